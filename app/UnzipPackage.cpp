#include "app/frmUpdater.h"

#include "platform/Error.h"
#include "unzip/CGUnzipFiles.h"

#include <memory>

void frmUpdater::UnzipPackage(const std::string& name) {
    try {
        const auto unzip = std::make_unique<CGUnzipFiles>();
        unzip->ZipFileName(tempFolder() + "/" + name);
        unzip->ExtractDir(tempFolder());
        unzip->HonorDirectories(false);
        if (unzip->Unzip("", "") != 0) {
            m_toolkit.msgBox(unzip->GetLastMessage(), platform::MsgBoxStyle::okOnly, "");
        }
    } catch (const platform::Error& failure) {
        showUnzipFailure(std::to_string(failure.number()), failure.description());
    } catch (const std::exception& failure) {
        showUnzipFailure(std::to_string(platform::ErrorNumber::invalidCall), failure.what());
    }
}

void frmUpdater::showUnzipFailure(const std::string& number, const std::string& description) {
    try {
        m_toolkit.msgBox(number + " Form1::cmdUnZip_Click " + description,
                         platform::MsgBoxStyle::okOnly, "");
    } catch (const std::exception&) {
        // The run goes on to the instruction file, which reports what is missing.
    }
}
