/* The preview window of a virtual output: a player program (ffplay unless a
 * setting names another) started with an argument list, never through a
 * shell, reading a NUT stream on its standard input from a socket of ours. */
#ifndef PLUGINS_VIRTUAL_OUTPUT_PREVIEW_PLAYER_H
#define PLUGINS_VIRTUAL_OUTPUT_PREVIEW_PLAYER_H

#include <stddef.h>
#include <sys/types.h>

typedef struct PreviewPlayer {
  pid_t pid; /* 0 when none runs */
} PreviewPlayer;

/* Starts `program` (looked up in PATH) titled `title`; answers the socket to
 * write the stream to, or -1 with the reason in `error`. */
int previewPlayerStart(PreviewPlayer* player, const char* program, const char* title, char* error,
                       size_t errorLength);
/* After the stream's socket is closed: lets the player end on its own for a
 * moment, then ends it, and reaps it. */
void previewPlayerStop(PreviewPlayer* player);

#endif
