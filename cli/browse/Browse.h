// Browse.h - the terminal explorer (-browse): the entry point the driver calls
// once the layout has compiled.
#pragma once

#include "CommandLine.h"

struct VLSelection;

// Takes over the terminal and explores the data through the compiled layout
// (the run's -limit in `options` applies), starting at the first member that
// `start` selects when it is given (null: the first line). Returns the exit
// status: 0 after `q`; 1 when there is no terminal on standard input and
// output (after saying so on `err`) or the program was built without the
// terminal library.
int VLBrowseMain(VLProgram* program, const VLFile* layout, const VLFile* data, const VLRunOptions* options,
                 VLSelection* start, VLWriter* out, VLWriter* err);
