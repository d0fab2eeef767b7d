// velmora.exe: started in the game folder, it shows the one window.
#include <windows.h>

#include "app/form1_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  velmora::Form1 form(instance, velmora::GameFolder::Current());
  return form.Run(show);
}
