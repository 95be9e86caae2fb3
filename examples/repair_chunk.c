/* Repairs the books of one chunk held in memory, through libpagemend.
 *
 *   repair_chunk IN OUT [--everywhere]
 *
 * IN holds a chunk's uncompressed NBT tree (or a player's file, gunzipped);
 * its findings are printed one a line, and the repaired tree, if a page was
 * repaired, is written to OUT. Exit status: 0 nothing to repair, 1 repaired,
 * 2 the tree could not be read (or a file), with libpagemend's code.
 *
 * Built against the installed library: cc repair_chunk.c $(pkg-config --cflags --libs pagemend) */
#include <pagemend.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_finding(const pm_finding *finding, void *user) {
  int *count = user;
  ++*count;
  printf("%s\n", finding->line);
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s IN OUT [--everywhere]\n", argv[0]);
    return 2;
  }
  FILE *in = fopen(argv[1], "rb");
  if (!in) {
    perror(argv[1]);
    return 2;
  }
  size_t size = 0, room = 1 << 16;
  unsigned char *bytes = malloc(room);
  for (size_t n; bytes && (n = fread(bytes + size, 1, room - size, in)) > 0;) {
    size += n;
    if (size == room) bytes = realloc(bytes, room *= 2);
  }
  fclose(in);
  if (!bytes) return 2;

  unsigned flags = argc > 3 && strcmp(argv[3], "--everywhere") == 0 ? PM_EVERYWHERE : 0;
  int findings = 0;
  unsigned char *repaired;
  size_t repaired_size;
  int result = pm_repair_chunk(bytes, size, flags, print_finding, &findings, &repaired, &repaired_size);
  free(bytes);
  if (result < 0) {
    fprintf(stderr, "libpagemend %s: the tree cannot be read (%d)\n", pm_version(), result);
    return 2;
  }
  printf("%d finding%s\n", findings, findings == 1 ? "" : "s");
  if (result == 1) {
    FILE *out = fopen(argv[2], "wb");
    if (!out || fwrite(repaired, 1, repaired_size, out) != repaired_size || fclose(out) != 0) {
      perror(argv[2]);
      pm_free(repaired);
      return 2;
    }
    pm_free(repaired);
  }
  return result;
}
