// A file system whose files never finish reading: the stand-in for a network share that stopped
// answering, or a device whose driver hangs. Mounted (FUSE) over a folder of a Wine prefix, it
// makes a thread of the program under test block for real inside ReadFile.
//   kvd_hang_fs <mount point> <file name> <record file>
// The named file is there with 64 bytes; opening it works, reading it blocks until the file
// system's process is killed (a hung read also keeps it from ending by itself). Every open and
// read it receives is appended to the record file.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string g_name;    // "/config.ini"
std::string g_record;  // where what was received is written

void Record(const char* what, const char* path) {
  std::ofstream out(g_record, std::ios::app);
  out << what << ' ' << path << '\n';
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (g_name == path) {
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = 64;  // not empty: a reader has something to wait for
    return 0;
  }
  return -ENOENT;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, g_name.c_str() + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info*) {
  Record("open", path);
  return g_name == path ? 0 : -ENOENT;
}

int Read(const char* path, char*, size_t, off_t, fuse_file_info*) {
  Record("read", path);
  // Never answered: the reader's thread waits until this process is killed.
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kvd_hang_fs <mount point> <file name> <record file>\n");
    return 2;
  }
  g_name = std::string("/") + argv[2];
  g_record = argv[3];
  fuse_operations operations{};
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.read = Read;
  // Foreground, so that the caller owns the process; several threads, so that other requests
  // are answered while one read hangs.
  std::vector<char*> args = {argv[0], const_cast<char*>("-f"), argv[1]};
  return fuse_main(static_cast<int>(args.size()), args.data(), &operations, nullptr);
}
