#pragma once

#include <QString>

#include <vector>

// The reference of the storage benchmarks: single-row commits on a file of
// its own in dir, with the settings the product opens its database with
// (write-ahead log, every commit synced), each timed in ms.
std::vector<double> bareCommitsMs(const QString &dir, int commits);
