// PySearcher: the Python class kiv_sr.Searcher, the configured engine.
//
// Holds one engine facade (one SearchConfig) fixed at construction; there
// are no setters, so objects are immutable and may be shared. Each search
// method converts its arguments (overrides before data), runs one facade
// request on a copy carrying the per-call alpha / l1_ratio, and wraps the
// records. The calling thread keeps the interpreter lock for the whole
// search and polls for signals, so Ctrl-C stops it with KeyboardInterrupt;
// the search's report reaches sys.stdout through a ProgressRelay.
#pragma once

#include <Python.h>

namespace kiv::python {

extern PyTypeObject PySearcherType;

}  // namespace kiv::python
