#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "dialogue/answers.hpp"
#include "io/environment.hpp"

namespace glyphound {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// The state one run shares between its questions: the answer readers, and
// the one answer character that both yes/no questions overwrite. A question
// whose answer can't be read keeps the character's earlier value.
class Dialogue {
public:
    Dialogue(Environment& environment, std::string invocationName)
        : environment(environment),
          answers(environment.standardInput()),
          invocationName(std::move(invocationName)) {}

    OutputStream& output() { return environment.standardOutput(); }

    // "<invocation name>: <problem>" on standard error; returns the failure status.
    int fail(std::string_view problem) {
        environment.standardError().print(invocationName + ": " + std::string(problem) + "\n");
        return kFailure;
    }

    bool askYesNo(std::string_view question) {
        output().print(question);
        answers.readAnswer(answer);
        return answer == 'Y' || answer == 'y';
    }

    Environment& environment;
    AnswerReader answers;
    char answer = 'N';
    const std::string invocationName;
};

}  // namespace glyphound
