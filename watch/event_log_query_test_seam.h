// Test-only: the test copy of the program can have every check trace the
// records its query took, so a test that drives the real program knows which
// check listed which entry. No user-facing option reaches this.
#pragma once

namespace vantrel::testing_seam {

// True: QueryEventLog writes the two lines of each record it appended
// (RecordLines) as debug lines, as they stand, after the query.
void SetRecordLinesTraced(bool traced);

}  // namespace vantrel::testing_seam
