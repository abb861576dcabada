#pragma once

#include "platform/environment.hpp"
#include "platform/sharing.hpp"

namespace glyphound {

// The environment of a real process on a POSIX system.
class PosixEnvironment : public Environment {
public:
    PosixEnvironment();
    ~PosixEnvironment() override;

    InputStream& standardInput() override { return input_; }
    OutputStream& standardOutput() override { return output_; }
    OutputStream& standardError() override { return error_; }
    std::unique_ptr<InputStream> openForReading(const std::string& name) override;
    std::unique_ptr<OutputStream> openForWriting(const std::string& name) override;
    bool outputIsConsole() override;
    void waitForEnter() override;

private:
    SharingRegistry sharing_;
    OutputStream output_;
    OutputStream error_;
    InputStream input_;
};

}  // namespace glyphound
