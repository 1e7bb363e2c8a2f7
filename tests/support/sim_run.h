#pragma once

// Running the built aikorvane-sim as a user would, from tests registered with
// aikorvane_add_sim_test (which names the binary and, in a cross build, the
// emulator that runs it).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testing_support {

struct SimRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the simulator with these (shell-quoted) arguments in the current
// directory; its standard output and error land in stdout.txt and stderr.txt.
inline SimRun RunSim(const std::string& arguments) {
  const std::string command =
      AIKORVANE_SIM_EMULATOR " '" AIKORVANE_SIM_PATH "' " + arguments + " >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  SimRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("stdout.txt"),
             ReadFile("stderr.txt")};
  // Under the sanitizers the subprocess reports its own faults here.
  EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("Sanitizer"))) << arguments;
  EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("runtime error:"))) << arguments;
  return run;
}

}  // namespace testing_support
