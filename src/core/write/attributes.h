// SPDX-License-Identifier: MIT
#pragma once
// What a new file takes over from the one it replaces: owner and group, permission bits and
// extended attributes.

#include <sys/stat.h>

namespace pelorix::write {

// Gives `to` the owner and group in `original`, or throws TagError ownerNotKept when this
// process may not: a replacement never silently changes who owns the file. Call it before
// writing, so a refusal costs nothing; the owner's change clears set-id bits, which
// keepModeAndAttributes restores.
void keepOwner(const struct stat& original, int to);

// Whether keepOwner would succeed for a file created now in the folder described by `folder`,
// told without creating one: what a rehearsal checks.
bool ownerKeepable(const struct stat& original, const struct stat& folder);

// Gives `to` the access ACL of the file open as `from`, or none where it has none (a new file
// takes the folder's default ACL, which may let in more users than the original did), and the
// inode flags that do not change how data is written (all but synchronous writes). Call it
// before the first write, so no byte is ever readable by more users than the original's, and
// flags that act on new data (no copy-on-write, compression) act on all of it. Throws TagError
// (flagsNotKept) where a flag cannot be kept.
void keepAccessAndFlags(int from, int to);

// Gives `to` the permission bits in `original`, the extended attributes and the remaining inode
// flags of the file open as `from`. Call it after the last write: a write clears set-id bits
// and file capabilities. Throws TagError (attributeNotKept, flagsNotKept) where one cannot be
// kept: nothing is dropped silently.
void keepModeAndAttributes(int from, const struct stat& original, int to);

// Whether this process could give a new file the inode flags of the file open as `from`, told
// without a new file: what a rehearsal checks. Throws as keepAccessAndFlags.
void checkFlagsKeepable(int from);

// Whether a new file in the folder open as `folder` could be given the extended attributes of
// the file open as `from`, tried on an unnamed file that vanishes at once (nothing is created
// where it can be seen). Throws TagError attributeNotKept as keepModeAndAttributes would.
void checkAttributesKeepable(int from, int folder);

}  // namespace pelorix::write
