#include "plugins/virtual-output/PreviewPlayer.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

int previewPlayerStart(PreviewPlayer* player, const char* program, const char* title, char* error,
                       size_t errorLength) {
  player->pid = 0;
  int ends[2];
  /* A socket rather than a pipe: writes can refuse SIGPIPE when the player quits. */
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    snprintf(error, errorLength, "Virtual output: no socket for the preview: %s", strerror(errno));
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* const argv[] = {(char*)program, "-hide_banner", "-loglevel", "error", "-nostats", "-autoexit",
                        "-window_title", (char*)title, "-f", "nut", "-i", "pipe:0", NULL};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program, &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (spawned != 0) {
    close(ends[0]);
    snprintf(error, errorLength, "Virtual output: the preview player %s did not start: %s", program,
             strerror(spawned));
    return -1;
  }
  player->pid = pid;
  return ends[0];
}

static int reapedWithin(pid_t pid, int milliseconds) {
  for (int waited = 0; waited <= milliseconds; waited += 10) {
    const pid_t done = waitpid(pid, NULL, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return 1;
    const struct timespec pause = {0, 10 * 1000000L};
    nanosleep(&pause, NULL);
  }
  return 0;
}

void previewPlayerStop(PreviewPlayer* player) {
  if (player->pid <= 0) return;
  if (!reapedWithin(player->pid, 1000)) {
    kill(player->pid, SIGTERM);
    if (!reapedWithin(player->pid, 1000)) {
      kill(player->pid, SIGKILL);
      while (waitpid(player->pid, NULL, 0) < 0 && errno == EINTR) {
      }
    }
  }
  player->pid = 0;
}
