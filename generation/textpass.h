#pragma once
// The record pass of a text base read as UTF-8: its lines hold as many
// characters but not as many bytes, so each slot keeps its line as read; the
// column range counts characters, and the output line is the source line
// byte for byte with the code text behind it.

#include "bases/source.h"
#include "generation/run.h"

#include <memory>

namespace codiflux {

std::unique_ptr<RecordPass> makeUtf8TextPass(Source& source, const RecordPlan& plan, const RecordCoder& coder);

}  // namespace codiflux
