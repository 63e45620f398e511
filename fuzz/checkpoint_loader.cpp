// libFuzzer target for the checkpoint loader, without the interpreter: any
// byte string is either refused with a message or loads into a record whose
// own stored form is exactly that string (a string of an earlier format
// version: whose own stored form loads and stores back to itself). Links the records library only:
//   clang++ -std=c++23 -fsanitize=fuzzer,address,undefined -ffp-contract=off
//     -fno-exceptions -fno-rtti fuzz/checkpoint_loader.cpp src/window.cpp
//     src/indicators/*.cpp src/strategies/*.cpp and src/classic/*.cpp but module.cpp
// with the stored forms of a few objects (barworks.state) as seeds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../src/companion/state.h"

using namespace barworks;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkpoint::Fault fault;
  checkpoint::Header header;
  if (!checkpoint::read_header(data, size, header, fault)) return 0;
  const bool known = checkpoint::visit_class(header.class_name, [&]<class Record>() {
    Record record{};
    const auto outcome = checkpoint::load(header.fields, header.size, header.version,
                                          checkpoint::kStoredName<Record>, record, fault);
    if (outcome != checkpoint::Outcome::kLoaded) {
      if (fault.text[0] == '\0' && outcome == checkpoint::Outcome::kInvalid) std::abort();
      return;
    }
    std::vector<unsigned char> stored(checkpoint::store(record, header.class_name, nullptr));
    checkpoint::store(record, header.class_name, stored.data());
    if (header.version != checkpoint::kFormatVersion) {
      // Upgraded: its current form must load and store back to itself.
      checkpoint::Header again;
      Record reloaded{};
      const bool loads =
          checkpoint::read_header(stored.data(), stored.size(), again, fault) &&
          checkpoint::load(again.fields, again.size, again.version, checkpoint::kStoredName<Record>,
                           reloaded, fault) == checkpoint::Outcome::kLoaded;
      std::vector<unsigned char> restored(checkpoint::store(reloaded, header.class_name, nullptr));
      checkpoint::store(reloaded, header.class_name, restored.data());
      if (!loads || restored != stored) {
        std::fprintf(stderr, "an upgraded %s does not load and store back\n",
                     checkpoint::kStoredName<Record>);
        std::abort();
      }
      return;
    }
    if (stored.size() != size || std::memcmp(stored.data(), data, size) != 0) {
      std::fprintf(stderr, "a loaded %s does not store back to its input\n",
                   checkpoint::kStoredName<Record>);
      std::abort();
    }
  });
  if (!known) checkpoint::refuse_class(header.class_name, fault);
  return 0;
}
