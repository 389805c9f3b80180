// Test-only: the test copy of the program can have every check trace the
// records its query took, so a test that drives the real program knows which
// check listed which entry. No user-facing option reaches this.
#pragma once

namespace vantrel::testing_seam {

// True: the query writes the two lines of each record it takes
// (RecordLines) as debug lines, as they stand, as it takes it, also a record
// a check does not keep.
void SetRecordLinesTraced(bool traced);

}  // namespace vantrel::testing_seam
