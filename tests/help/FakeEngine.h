#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "help/HtmlHelp.h"

namespace pontix::test {

// One call of HtmlHelpA as the engine received it; the keyword is read out of the data.
struct EngineCall {
  help::WindowHandle owner = 0;
  std::string file;  // "(none)" for a null file
  unsigned command = 0;
  std::uintptr_t data = 0;
  std::string keyword;

  bool operator==(const EngineCall&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const EngineCall& c) {
    return out << "{owner " << c.owner << ", " << c.file << ", command " << c.command << ", data "
               << (c.keyword.empty() ? std::to_string(c.data) : "\"" + c.keyword + "\"") << "}";
  }
};

inline EngineCall call(std::string file, unsigned command, std::uintptr_t data = 0) {
  return {0, std::move(file), command, data, {}};
}
inline EngineCall indexCall(std::string file, std::string keyword) {
  return {0, std::move(file), help::HH_DISPLAY_INDEX, 0, std::move(keyword)};
}

// A library that records what it is asked, and whether it has been freed.
struct FakeEngine {
  std::vector<EngineCall> calls;
  std::vector<std::string> librariesAsked;
  bool hasEntry = true;
  bool loads = true;
  int librariesAlive = 0;

  help::HelpLibraryLoader loader() {
    return [this](const std::string& name) -> std::shared_ptr<help::HelpLibrary> {
      librariesAsked.push_back(name);
      if (!loads) return nullptr;
      return std::make_shared<Library>(*this);
    };
  }

 private:
  struct Library : help::HelpLibrary {
    explicit Library(FakeEngine& engine) : engine(engine) { ++engine.librariesAlive; }
    ~Library() override { --engine.librariesAlive; }
    help::HtmlHelpFunction find(const std::string& name) override {
      if (!engine.hasEntry || name != "HtmlHelpA") return {};
      FakeEngine* e = &engine;
      return [e](help::WindowHandle owner, const char* file, unsigned command, std::uintptr_t data) {
        EngineCall c{owner, file ? file : "(none)", command, data, {}};
        if (command == help::HH_DISPLAY_INDEX) {
          c.keyword = reinterpret_cast<const char*>(data);
          c.data = 0;
        }
        e->calls.push_back(c);
        return help::WindowHandle{0};
      };
    }
    FakeEngine& engine;
  };
};

}  // namespace pontix::test
