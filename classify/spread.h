#pragma once

#include <ostream>

#include "classify/explain.h"
#include "classify/options.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"
#include "peers/peers.h"

namespace punb::classify {

// What scores the documents: the model, its classifier and word weights, and the threads.
struct Scoring {
  const SavedModel& model;
  const Classifier& classifier;
  WordWeights& weights;
  WorkerPool& pool;
  int threads;
};

// The run of several processes: each reads and scores its share of the documents and keeps their
// lines (no process holds all), and the lines go out in the order and with the bytes of a run of
// one process, as do its faults. Collective.
void run_spread(const Options& o, std::ostream& log, Peers& peers, const Scoring& scoring);

}  // namespace punb::classify
