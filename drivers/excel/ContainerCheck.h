// The structure of a Compound File checked before anything is read from it: every sector a
// stream, the directory or an allocation table needs lies within the file, chains end and do not
// loop, and every directory entry in use can be reached from the root. A container that fails
// holds something its structure does not account for (a cut or damaged file); rewriting it would
// drop that, so it is refused.
#pragma once

namespace quillon::drivers::excel {

// Returns when the container open on `fd` is sound; else throws WorkbookRefused saying why
// (odbc::errors::ContainerDamaged).
void CheckContainer(int fd);

}  // namespace quillon::drivers::excel
