#pragma once

#include "codemodule/CodeModuleState.h"
#include "platform/scripted/ScriptedToolkit.h"
#include "tests/fixtures/RecordingZip.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

// The binding pointed at the recording zip library, which the test keeps
// loaded so that what it recorded outlives each call.
class RecordingZipFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = dlopen(RECORDING_ZIP32_FOLDER "/libzip32.so", RTLD_NOW);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        auto lastCallFunction =
            reinterpret_cast<RecordingZipLastCallFunction>(dlsym(m_handle, "recordingZipLastCall"));
        auto scriptFunction =
            reinterpret_cast<RecordingZipScriptFunction>(dlsym(m_handle, "recordingZipScript"));
        ASSERT_NE(lastCallFunction, nullptr);
        ASSERT_NE(scriptFunction, nullptr);
        lastCall = lastCallFunction();
        script = scriptFunction();
        *lastCall = RecordedZipCall{};
        *script = RecordingZipScript{};
        CodeModule::setLibraryFolder(RECORDING_ZIP32_FOLDER);
        CodeModule::useToolkit(ui);
    }

    void TearDown() override {
        if (m_handle != nullptr) {
            dlclose(m_handle);
        }
    }

    platform::ScriptedToolkit ui;
    RecordedZipCall* lastCall = nullptr;
    RecordingZipScript* script = nullptr;

private:
    void* m_handle = nullptr;
};
