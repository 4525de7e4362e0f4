#pragma once

#include "codemodule/CodeModuleState.h"
#include "platform/scripted/ScriptedToolkit.h"
#include "tests/fixtures/RecordingUnzip.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

// The binding pointed at the recording library, which the test keeps loaded
// so that what it recorded outlives each call.
class RecordingFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = dlopen(RECORDING_UNZIP32_FOLDER "/libunzip32.so", RTLD_NOW);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        auto lastCallFunction =
            reinterpret_cast<RecordingLastCallFunction>(dlsym(m_handle, "recordingLastCall"));
        auto scriptFunction =
            reinterpret_cast<RecordingScriptFunction>(dlsym(m_handle, "recordingScript"));
        ASSERT_NE(lastCallFunction, nullptr);
        ASSERT_NE(scriptFunction, nullptr);
        lastCall = lastCallFunction();
        script = scriptFunction();
        *lastCall = RecordedUnzipCall{};
        *script = RecordingScript{};
        CodeModule::setLibraryFolder(RECORDING_UNZIP32_FOLDER);
        CodeModule::useToolkit(ui);
    }

    void TearDown() override {
        if (m_handle != nullptr) {
            dlclose(m_handle);
        }
    }

    platform::ScriptedToolkit ui;
    RecordedUnzipCall* lastCall = nullptr;
    RecordingScript* script = nullptr;

private:
    void* m_handle = nullptr;
};
