#include "app/taskbar_win32.h"

#include <shobjidl.h>

namespace velmora {
namespace {

class ShellTaskbarButton final : public TaskbarButton {
 public:
  explicit ShellTaskbarButton(ITaskbarList3* list) : list_(list) {}
  ~ShellTaskbarButton() override { list_->Release(); }

  void Show(HWND window, const TaskProgress& progress) override {
    switch (progress.state) {
      case TaskProgress::State::kNone:
        list_->SetProgressState(window, TBPF_NOPROGRESS);
        break;
      case TaskProgress::State::kUnknown:
        list_->SetProgressState(window, TBPF_INDETERMINATE);
        break;
      case TaskProgress::State::kPart:
        list_->SetProgressState(window, TBPF_NORMAL);
        list_->SetProgressValue(window, ULONGLONG(progress.fraction * kSteps), kSteps);
        break;
      case TaskProgress::State::kError:
        // A full red bar until the player has read why.
        list_->SetProgressState(window, TBPF_ERROR);
        list_->SetProgressValue(window, kSteps, kSteps);
        break;
    }
  }

 private:
  static constexpr ULONGLONG kSteps = 1000;
  ITaskbarList3* list_;
};

}  // namespace

std::unique_ptr<TaskbarButton> OpenShellTaskbarButton() {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))))
    return nullptr;
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  return std::make_unique<ShellTaskbarButton>(list);
}

std::function<std::unique_ptr<TaskbarButton>()>& TaskbarButtonOpener() {
  static std::function<std::unique_ptr<TaskbarButton>()> opener = OpenShellTaskbarButton;
  return opener;
}

}  // namespace velmora
