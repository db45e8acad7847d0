#pragma once

namespace toneprint {

// How the harmonics' sums are evaluated (HarmonicAccumulator).
enum class Evaluation {
  // The straightforward sums, term by term: the same amplitudes to the last
  // bit.
  reference,
  // Runs of samples, several terms at once with vector instructions and,
  // where two processors serve, half the harmonics on a second thread:
  // amplitudes within about 1e-12 of the reference's, relatively, and not
  // depending on the threads.
  fast,
};

}  // namespace toneprint
