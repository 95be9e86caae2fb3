/* libpagemend: the repair of pagemend for programs that hold a chunk in
 * memory (server tools, editors, scripts through Python's ctypes or Java's
 * foreign-function API).
 *
 * A chunk is given as its uncompressed NBT tree, as a region's record holds
 * it once inflated: an unnamed root compound with "Level", or a chunk of
 * Minecraft 1.18 and later (DataVersion 2844 on), or an entity chunk (with
 * "Entities", DataVersion 2681 on; with PM_EVERYWHERE, of any version).
 * A player's file (playerdata/<uuid>.dat, or level.dat), gunzipped, is
 * given the same way: a root compound holding "Inventory", "EnderItems" or
 * "Data". Written books are found where pagemend finds them (containers,
 * item frames, shulker boxes and bundles to any depth; with PM_EVERYWHERE
 * every holder), and a page the chunk's version of the game cannot read
 * becomes what it reads.
 *
 * Thread safety: every call is independent; calls may run on any number of
 * threads at once. Nothing is kept between calls. */
#ifndef PAGEMEND_H
#define PAGEMEND_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of finding. */
#define PM_REPAIRED 1  /* a page was rewritten */
#define PM_CORRUPTED 2 /* a page may be damaged JSON; it was left as it is */
#define PM_WARNING 3   /* malformed data, passed over, or a repair held back */
#define PM_ERROR 4     /* what kept something from being read */

/* One finding, valid only during the call of the callback that receives
 * it: copy what you keep. Texts are NUL-terminated, as stored in the tree
 * (Java's modified UTF-8), but `line`, whose control characters are written
 * as \xHH. */
typedef struct pm_finding {
  int kind;          /* PM_REPAIRED, PM_CORRUPTED, PM_WARNING, PM_ERROR */
  const char *title; /* the book's title as stored, NULL when there is none */
  int page;          /* the page counted from 0, -1 when none */
  const char *where; /* where the item lies, as the text line says it ("in minecraft:chest at 3,64,5"); "" when unknown */
  const char *line;  /* the line pagemend prints for it, without its line feed */
} pm_finding;

typedef void (*pm_finding_fn)(const pm_finding *finding, void *user);

/* Flags. */
#define PM_EVERYWHERE 1u /* look for books in every holder, and read any root with the lists of 1.18 */
#define PM_UPGRADE 2u    /* make books survive being opened by any later version: quote the pages that
                            1.20.5 to 1.21.4 would drop, shorten titles of more than 32 characters,
                            warn of pages and generations those versions refuse */

/* Error codes (negative results). */
#define PM_E_ARGUMENT (-1) /* `nbt` or `repaired` or `repaired_size` is NULL, or a flag is unknown */
#define PM_E_TREE (-2)     /* the bytes are no whole NBT tree, or its root is no compound */
#define PM_E_NAMED (-3)    /* a chunk's root has a name */
#define PM_E_TOO_LARGE (-4) /* the tree holds more tags than a chunk may */
#define PM_E_NO_LEVEL (-5)  /* a chunk without "Level", older than 1.18 (see above) */
#define PM_E_TOO_DEEP (-6)  /* repaired, it would nest deeper or hold more tags than the game reads; nothing was repaired */
#define PM_E_MEMORY (-7)    /* out of memory */

/* Repairs the written books of one chunk's uncompressed NBT tree (or a player's file's).
   Returns 1 and sets *repaired (free it with pm_free) when a page was repaired, 0 when
   nothing was, a negative PM_E... code when the tree cannot be read.
   Every finding is handed to `on_finding` (which may be NULL) with `user`, in the order
   found. The repaired tree is a whole NBT tree, the root's name as it was, its compounds'
   entries sorted by name; it reads back within the game's limits. On 0 or an error,
   *repaired is NULL and *repaired_size 0. */
int pm_repair_chunk(const unsigned char *nbt, size_t size, unsigned flags, pm_finding_fn on_finding,
                    void *user, unsigned char **repaired, size_t *repaired_size);

/* Frees what pm_repair_chunk made; NULL is allowed. */
void pm_free(void *p);

/* The library's version, such as "0.2.0". */
const char *pm_version(void);

#ifdef __cplusplus
}
#endif

#endif /* PAGEMEND_H */
