// A pass-through FUSE file system for tests: it shows the folder BACKING at
// MOUNTPOINT and logs, in order, the requests that decide a file's safety:
// each fsync (of a file, or "fsyncdir" of a folder) and each new name
// (rename, link), one line each, to LOG. With
// --fail-fsync every fsync fails with EIO, with --fail-fsyncdir every
// folder's. It is how a test sees what
// reaches the driver of a disk read through FUSE (ntfs-3g, exfat-fuse),
// which syncfs does not. With --record RECORD it also records every write
// with its data, and every fsync, in the order they arrive, for a test that
// replays a disk image up to any flush (see app/testing/power_cut_test.py):
// each write as "W", its offset and length (little-endian, 8 and 4 bytes)
// and its bytes; each fsync as "F". With --no-rename-flags a rename that
// must not replace is refused, as ntfs-3g and exfat-fuse refuse it.
//
// Usage: counting_fuse BACKING MOUNTPOINT LOG [--fail-fsync] [--fail-fsyncdir] [--no-rename-flags]
//                      [--record RECORD]
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace {

FILE* log_file = nullptr;
FILE* record_file = nullptr;
bool fail_fsync = false;
bool fail_fsyncdir = false;
bool refuse_rename_flags = false;
std::mutex log_mutex;
std::string backing;  // an absolute path: FUSE may change the current folder

// The backing path of a FUSE path (which begins with "/").
std::string At(const char* path) { return backing + path; }

void Log(const char* what, const char* a, const char* b = "") {
  std::lock_guard lock(log_mutex);
  fprintf(log_file, "%s %s%s%s\n", what, a, *b ? " " : "", b);
  fflush(log_file);
}

// Records a write's bytes, or (without data) an fsync; under the log's lock,
// so that the record keeps the order the requests were carried out in.
void Record(const char* data, size_t size, off_t at) {
  if (!record_file) return;
  std::lock_guard lock(log_mutex);
  if (!data) {
    fputc('F', record_file);
  } else {
    const uint64_t offset = uint64_t(at);
    const uint32_t length = uint32_t(size);
    fputc('W', record_file);
    fwrite(&offset, sizeof offset, 1, record_file);
    fwrite(&length, sizeof length, 1, record_file);
    fwrite(data, 1, size, record_file);
  }
  fflush(record_file);
}

int Result(int ok) { return ok < 0 ? -errno : 0; }

int GetAttr(const char* path, struct stat* st, fuse_file_info*) { return Result(lstat(At(path).c_str(), st)); }
int Access(const char* path, int mode) { return Result(access(At(path).c_str(), mode)); }
int ReadLink(const char* path, char* buffer, size_t size) {
  const ssize_t got = readlink(At(path).c_str(), buffer, size - 1);
  if (got < 0) return -errno;
  buffer[got] = '\0';
  return 0;
}
int MakeDir(const char* path, mode_t mode) { return Result(mkdir(At(path).c_str(), mode)); }
int Unlink(const char* path) { return Result(unlink(At(path).c_str())); }
int RemoveDir(const char* path) { return Result(rmdir(At(path).c_str())); }
int Symlink(const char* to, const char* path) { return Result(symlink(to, At(path).c_str())); }
int Rename(const char* from, const char* to, unsigned int flags) {
  if (flags && refuse_rename_flags) return -EINVAL;
  const int done = renameat2(AT_FDCWD, At(from).c_str(), AT_FDCWD, At(to).c_str(), flags);
  if (done == 0) Log("rename", from, to);
  return Result(done);
}
int Link(const char* from, const char* to) {
  const int done = link(At(from).c_str(), At(to).c_str());
  if (done == 0) Log("link", from, to);
  return Result(done);
}
int ChangeMode(const char* path, mode_t mode, fuse_file_info*) { return Result(chmod(At(path).c_str(), mode)); }
int ChangeOwner(const char* path, uid_t uid, gid_t gid, fuse_file_info*) {
  return Result(lchown(At(path).c_str(), uid, gid));
}
int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  return Result(fi ? ftruncate(int(fi->fh), size) : truncate(At(path).c_str(), size));
}
int SetTimes(const char* path, const timespec times[2], fuse_file_info* fi) {
  return Result(fi ? futimens(int(fi->fh), times) : utimensat(AT_FDCWD, At(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}
int Open(const char* path, fuse_file_info* fi) {
  const int fd = open(At(path).c_str(), fi->flags & ~O_NOFOLLOW);
  if (fd < 0) return -errno;
  fi->fh = uint64_t(fd);
  return 0;
}
int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  const int fd = open(At(path).c_str(), fi->flags, mode);
  if (fd < 0) return -errno;
  fi->fh = uint64_t(fd);
  return 0;
}
int Read(const char*, char* buffer, size_t size, off_t at, fuse_file_info* fi) {
  const ssize_t got = pread(int(fi->fh), buffer, size, at);
  return got < 0 ? -errno : int(got);
}
int Write(const char*, const char* buffer, size_t size, off_t at, fuse_file_info* fi) {
  const ssize_t done = pwrite(int(fi->fh), buffer, size, at);
  if (done > 0) Record(buffer, size_t(done), at);
  return done < 0 ? -errno : int(done);
}
int StatFs(const char* path, struct statvfs* st) { return Result(statvfs(At(path).c_str(), st)); }
int Release(const char*, fuse_file_info* fi) { return Result(close(int(fi->fh))); }
// A folder's flush: logged, and passed on as a flush of the backing folder.
int FsyncDir(const char* path, int, fuse_file_info*) {
  Log(fail_fsyncdir ? "fsyncdir-failed" : "fsyncdir", path);
  if (fail_fsyncdir) return -EIO;
  const int folder = open(At(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder < 0) return -errno;
  const int done = fsync(folder);
  close(folder);
  return Result(done);
}

int Fsync(const char* path, int datasync, fuse_file_info* fi) {
  Log(fail_fsync ? "fsync-failed" : "fsync", path);
  if (fail_fsync) return -EIO;
  const int done = datasync ? fdatasync(int(fi->fh)) : fsync(int(fi->fh));
  if (done == 0) Record(nullptr, 0, 0);
  return Result(done);
}
int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  DIR* dir = opendir(At(path).c_str());
  if (!dir) return -errno;
  while (const dirent* entry = readdir(dir)) {
    struct stat st {};
    st.st_ino = entry->d_ino;
    st.st_mode = mode_t(entry->d_type) << 12;
    if (fill(buffer, entry->d_name, &st, 0, fuse_fill_dir_flags(0))) break;
  }
  closedir(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: counting_fuse BACKING MOUNTPOINT LOG [--fail-fsync] [--no-rename-flags] [--record RECORD]\n");
    return 2;
  }
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--fail-fsync") == 0) fail_fsync = true;
    else if (strcmp(argv[i], "--fail-fsyncdir") == 0) fail_fsyncdir = true;
    if (strcmp(argv[i], "--no-rename-flags") == 0) refuse_rename_flags = true;
    if (strcmp(argv[i], "--record") == 0 && i + 1 < argc) record_file = fopen(argv[++i], "wb");
  }
  log_file = fopen(argv[3], "w");
  char* mountpoint = realpath(argv[2], nullptr);
  char* backing_path = realpath(argv[1], nullptr);
  if (!log_file || !mountpoint || !backing_path) {
    perror("counting_fuse");
    return 1;
  }
  backing = backing_path;
  if (backing == "/") backing.clear();
  fuse_operations operations{};
  operations.getattr = GetAttr;
  operations.access = Access;
  operations.readlink = ReadLink;
  operations.mkdir = MakeDir;
  operations.unlink = Unlink;
  operations.rmdir = RemoveDir;
  operations.symlink = Symlink;
  operations.rename = Rename;
  operations.link = Link;
  operations.chmod = ChangeMode;
  operations.chown = ChangeOwner;
  operations.truncate = Truncate;
  operations.utimens = SetTimes;
  operations.open = Open;
  operations.create = Create;
  operations.read = Read;
  operations.write = Write;
  operations.statfs = StatFs;
  operations.release = Release;
  operations.fsync = Fsync;
  operations.fsyncdir = FsyncDir;
  operations.readdir = ReadDir;
  char name[] = "counting_fuse", foreground[] = "-f", options_flag[] = "-o";
  char options[] = "fsname=counting,subtype=counting,default_permissions";
  char* fuse_argv[] = {name, mountpoint, foreground, options_flag, options, nullptr};
  return fuse_main(5, fuse_argv, &operations, nullptr);
}
