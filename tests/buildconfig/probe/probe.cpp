// Exits 0 when the compiled values equal the configured ones in the file given.
#include <fstream>
#include <iterator>
#include <string>

#include "buildconfig.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ifstream file(argv[1], std::ios::binary);
  const std::string expected((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  const std::string compiled = std::string(STELVOX_UPDATE_HOST) + "|" + STELVOX_UPDATE_USER + "|" +
                               STELVOX_UPDATE_PASSWORD + "|" + STELVOX_UPDATE_PUBLIC_KEY;
  return compiled == expected ? 0 : 1;
}
