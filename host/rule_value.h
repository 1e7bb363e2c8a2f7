#pragma once

#include <string>

// One rule result collected by the host's threshold operations during a round.
struct rule_value {
  std::string alarm_id;
  std::string signal_id;
  std::string name;
  std::string text;
  int level = 0;
  bool condition = false;
};
