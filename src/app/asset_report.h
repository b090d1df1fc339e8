// The asset inspector: loads each file with the engine's own loaders and
// prints tab-separated lines, for finding out why a model or picture looks
// wrong. Opens no window.
//
//   model<TAB>PATH<TAB>MESHES
//   mesh<TAB>INDEX<TAB>NAME<TAB>VERTICES<TAB>FACES<TAB>TEXCOORDS<TAB>MAPPED
//       <TAB>MIN_X<TAB>MIN_Y<TAB>MIN_Z<TAB>MAX_X<TAB>MAX_Y<TAB>MAX_Z
//   image<TAB>PATH<TAB>WIDTH<TAB>HEIGHT<TAB>RGB|RGBA<TAB>SHA256<TAB>ORIGIN<TAB>ALPHA
//
// Before the first line of each kind comes a header line naming its
// columns, starting with "#". Mesh counts are those of the mesh data after
// loading; MAPPED says whether the file gives mapping coordinates (yes,
// partial: fewer than the vertices, no); the bounding box is that of the
// vertices as the effects see them, after the brush's turn to y-up. The
// image hash is of the decoded pixel buffer as it would be uploaded (bottom
// row first); ORIGIN is the corner the file stores first (bottom-left,
// top-left, ...); ALPHA is yes (some pixel is not opaque), opaque (an alpha
// channel, all 255) or no.
// Control characters and backslashes in names are written as \xNN and \\.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Prints the lines for `files` to `out` and the message of every file that
// fails to stderr. A model whose loading stepped over damage (a chunk cut
// short) prints its lines and its warnings, and counts as failed. With a
// non-empty `dumpDir` each picture is also written to dumpDir/NAME.png, top
// row first (NAME: the file's name). Returns 1 when any file failed, else 0.
int RunInspect(const std::vector<std::string>& files, const std::string& dumpDir, std::ostream& out);
