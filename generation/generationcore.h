#pragma once
// The generation of an encoded base, in pieces that do not depend on one
// another's threads: the record coder (coder.h), the output writer and its
// files (writer.h, files.h), the set-up, record pass and record loop of a
// run (run.h; a CSV source's in csvgeneration.h), and the run driver that
// ties them on N threads (rundriver.h).

#include "bases/source.h"
#include "generation/coder.h"
#include "generation/files.h"
#include "generation/run.h"
#include "generation/rundriver.h"
#include "generation/texts.h"
#include "generation/writer.h"
