#include "io/environment.hpp"

#include "io/write_behind.hpp"

namespace glyphound {

Environment::Environment(System& system)
    : system_(system),
      output_(system.standardOutput(), OutputOptions{Buffering::Line, true}),
      error_(system.standardError(), OutputOptions{Buffering::None, true}),
      input_(system.standardInput(), InputOptions{true, &output_}) {}

Environment::~Environment() {
    output_.close();
    error_.close();
}

std::unique_ptr<InputStream> Environment::readerFor(std::unique_ptr<ByteSource> source, Reading reading) {
    if (!source) return nullptr;
    if (reading == Reading::Ahead) source = readAhead(std::move(source));
    return std::make_unique<InputStream>(std::move(source), InputOptions{false, &output_});
}

std::unique_ptr<InputStream> Environment::openForReading(const std::string& name) {
    return readerFor(system_.openForReading(name, Waiting::No).source);
}

std::unique_ptr<InputStream> Environment::openRom(const std::string& name, Reading reading) {
    OpenedFile file = system_.openForReading(name, Waiting::No);
    return file.rereadable ? readerFor(std::move(file.source), reading) : nullptr;
}

std::unique_ptr<OutputStream> Environment::openForWriting(const std::string& name) {
    std::unique_ptr<ByteSink> sink = system_.openForWriting(name);
    if (!sink) return nullptr;
    return std::make_unique<OutputStream>(writeBehind(std::move(sink)), OutputOptions{Buffering::Full, false});
}

void Environment::waitForEnter() {
    input_.discardBuffered();
    if (!input_.closed()) system_.readConsoleLine();
}

}  // namespace glyphound
