#pragma once

#include "fixtures/RecordingLibraryFixture.h"
#include "fixtures/RecordingUnzip.h"

// The unzip binding pointed at the recording unzip library.
class RecordingFixture : public RecordingLibraryFixture<RecordedUnzipCall, RecordingScript> {
protected:
    RecordingFixture()
        : RecordingLibraryFixture(RECORDING_UNZIP32_FOLDER, "libunzip32.so", "recordingLastCall",
                                  "recordingScript") {}
};
