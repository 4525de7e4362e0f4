#pragma once

#include "fixtures/RecordingLibraryFixture.h"
#include "fixtures/RecordingZip.h"

// The zip binding pointed at the recording zip library.
class RecordingZipFixture : public RecordingLibraryFixture<RecordedZipCall, RecordingZipScript> {
protected:
    RecordingZipFixture()
        : RecordingLibraryFixture(RECORDING_ZIP32_FOLDER, "libzip32.so", "recordingZipLastCall",
                                  "recordingZipScript") {}
};
