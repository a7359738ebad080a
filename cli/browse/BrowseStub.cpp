// BrowseStub.cpp - the explorer's entry point in a build without the terminal
// library: -browse says what is missing.
#include "Browse.h"

int VLBrowseMain(VLProgram*, const VLFile*, const VLFile*, const VLRunOptions*, VLSelection*, VLWriter*, VLWriter* err) {
    VLWriteText(err, "-browse is not available: this Vellum was built without ncursesw "
                     "(install libncurses-dev and build again)\n");
    return 1;
}
