// The splitter's modes, each a unit of its own over the run (SplitRun.h), each returning the
// run's exit code:
//
// - RecordSide (the default, and --list): the recording a live recorder would make;
// - SplitBySongCount (--songs N, and --names without --cuts): the N-1 best gaps;
// - ProbeSide (--probe): the side measured, settings suggested and tried;
// - SplitAtCuts (--cuts FILE): the input's bytes copied into one song per cut.
#pragma once

#include "split/SplitRun.h"

int RecordSide(CSplitRun& run);
int SplitBySongCount(CSplitRun& run);
int ProbeSide(CSplitRun& run);
// --gap-level auto and --end-gap auto: the side measured as the probe measures it and the
// values chosen set on the run, with why; -1 to go on, or the exit code.
int ChooseAutoLevels(CSplitRun& run);
int SplitAtCuts(CSplitRun& run);
