#include "platform/DetachedProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace hw {

bool StartDetached(const std::string& program, const std::string& workingDir) {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  ::posix_spawnattr_init(&attributes);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);  // not ended with this process's session
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  char* const arguments[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, arguments, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  return started == 0;
}

}  // namespace hw
