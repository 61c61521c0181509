#include <gtest/gtest.h>

#include "FakeEngine.h"
#include "help/HelpManager.h"
#include "help/StoHtmlHelp.h"

namespace pontix::help {
namespace {

using test::call;
using test::EngineCall;
using test::FakeEngine;
using test::indexCall;

constexpr const char* kProgram = "/opt/pontix/pontix";
constexpr const char* kInstalledHelp = "/opt/pontix/Scolaria.chm";

// A manager with the WinHelp viewer joined first and StoHtmlHelp started up after it, as the
// program has them; the application names its help file.
struct HelpSystem {
  FakeEngine engine;
  std::string applicationHelpFile = "Scolaria.chm";
  std::shared_ptr<HelpManager> manager = HelpManager::create();
  std::shared_ptr<TWinHelpViewer> winHelp = TWinHelpViewer::join(*manager);
  std::vector<std::string> winHelpTook;

  explicit HelpSystem(bool withTester = true) {
    winHelp->taken = [this](const std::string& request) { winHelpTook.push_back(request); };
    startUp(*manager, *winHelp, engine.loader(),
            {[this] { return applicationHelpFile; }, [] { return std::string(kProgram); }});
    if (!withTester) winHelp->tester.reset();
  }
  ~HelpSystem() {
    shutDown();
    manager->shutDown();
  }
  TStoHtmlHelpViewer& viewer() { return *singleViewer(); }
};

class StubManager : public IHelpManager {
 public:
  explicit StubManager(std::string file) : file_(std::move(file)) {}
  WindowHandle ownerWindow() override { return 0; }
  std::string helpFile() override { return file_; }
  void release(int) override {}

 private:
  std::string file_;
};

TEST(CurrentHelpFile, ABareNameGetsTheProgramsFolder) {
  struct Case {
    std::string manager, application, program, expected;
  };
  for (const Case& c : std::vector<Case>{
           {"", "Scolaria.chm", kProgram, kInstalledHelp},
           {"", "/srv/ayuda/Scolaria.chm", kProgram, "/srv/ayuda/Scolaria.chm"},
           {"", "ayuda/Scolaria.chm", kProgram, "ayuda/Scolaria.chm"},
           {"Otra.chm", "Scolaria.chm", kProgram, "/opt/pontix/Otra.chm"},
           {"/srv/Otra.chm", "Scolaria.chm", kProgram, "/srv/Otra.chm"},
           {"", "Scolaria.chm", "/pontix", "/Scolaria.chm"},
           {"", "", kProgram, ""},
       }) {
    StubManager manager(c.manager);
    const HelpApplication application{[&] { return c.application; }, [&] { return c.program; }};
    EXPECT_EQ(currentHelpFile(&manager, application), c.expected) << c.manager << " | " << c.application;
  }
}

TEST(CompiledHelp, OnlyANameEndingInDotChmAnyCase) {
  for (auto [name, compiled] : std::vector<std::pair<std::string, bool>>{
           {"Scolaria.chm", true},
           {"SCOLARIA.CHM", true},
           {"/opt/pontix/Scolaria.ChM", true},
           {".chm", true},
           {"Scolaria.chm.bak", false},
           {"Scolaria", false},
           {"chm", false},
           {"Scolaria.hlp", false},
           {"", false},
       })
    EXPECT_EQ(isCompiledHelp(name), compiled) << name;
}

TEST(StoHtmlHelpViewer, ShowsTheIndexEntryOfTheKeywordAfterItsColon) {
  HelpSystem help;
  for (auto [text, keyword] : std::vector<std::pair<std::string, std::string>>{
           {"StoHtmlHelp: Exportar", "Exportar"},
           {" Exportar ", "Exportar"},
           {"\tExportar\r\n", "Exportar"},
           {"Exportar", "Exportar"},
           {"a: b: c", "b: c"},
       }) {
    help.engine.calls.clear();
    help.viewer().showKeyword(text);
    EXPECT_EQ(help.engine.calls, std::vector<EngineCall>{indexCall(kInstalledHelp, keyword)}) << text;
  }
}

TEST(StoHtmlHelpViewer, ShowsATopicWithTheDefaultExtensionWhenItHasNoPageExtension) {
  HelpSystem help;
  for (auto [topic, shown] : std::vector<std::pair<std::string, std::string>>{
           {"intro", "intro.htm"},
           {"a.txt", "a.txt.htm"},
           {"niveles.htm", "niveles.htm"},
           {"NIVELES.HTML", "NIVELES.HTML"},
       }) {
    help.engine.calls.clear();
    help.viewer().showTopic(topic);
    EXPECT_EQ(help.engine.calls,
              std::vector<EngineCall>{call(std::string(kInstalledHelp) + "::/" + shown, HH_DISPLAY_TOPIC)})
        << topic;
  }
}

TEST(StoHtmlHelpViewer, ChoosesItsOwnKeywordEntryWithLetterCase) {
  HelpSystem help;
  using Entries = std::vector<std::string>;
  struct Case {
    Entries entries;
    int chosen;
  };
  for (const Case& c : std::vector<Case>{
           {{"StoHtmlHelp: Exportar", "WinHelp: Exportar"}, 0},
           {{"A: x", "WinHelp: x", "StoHtmlHelp: x"}, 2},
           {{"A: x", "WinHelp: x"}, 0},
           {{"WinHelp: x", "stohtmlhelp: x"}, 0},
           {{": x", "StoHtmlHelp"}, 1},
           {{}, 0},
       })
    EXPECT_EQ(help.viewer().chooseKeywordEntry(c.entries), c.chosen) << ::testing::PrintToString(c.entries);

  EXPECT_EQ(help.viewer().chooseContentsViewer({"StoHtmlHelp", "WinHelp"}), 0);
  EXPECT_EQ(help.viewer().chooseContentsViewer({"WinHelp", "STOHTMLHELP"}), 1);
  EXPECT_EQ(help.viewer().chooseContentsViewer({"WinHelp"}), -1);
  EXPECT_EQ(help.viewer().helpStrings("Exportar"), std::vector<std::string>{"StoHtmlHelp: Exportar"});
}

TEST(HelpManager, SendsEveryRequestToStoHtmlHelpWithWinHelpJoinedFirst) {
  HelpSystem help;
  EXPECT_EQ(help.engine.librariesAsked, std::vector<std::string>{"HHCtrl.ocx"});
  EXPECT_EQ(help.winHelp->viewerName(), "WinHelp");
  EXPECT_EQ(help.viewer().viewerId, 2);

  help.manager->helpCommand(HELP_CONTENTS, 0, "Scolaria.chm");
  help.manager->helpCommand(HELP_CONTEXT, 1, "Scolaria.chm");
  help.manager->helpKeyword("Importar", "Scolaria.chm");
  help.manager->helpTopic("niveles", "Scolaria.chm");
  help.manager->helpCommand(HELP_QUIT, 0, "Scolaria.chm");
  EXPECT_EQ(help.engine.calls, (std::vector<EngineCall>{
                                   call(kInstalledHelp, HH_DISPLAY_TOC),
                                   call(kInstalledHelp, HH_HELP_CONTEXT, 1),
                                   indexCall(kInstalledHelp, "Importar"),
                                   call(std::string(kInstalledHelp) + "::/niveles.htm", HH_DISPLAY_TOPIC),
                                   call("(none)", HH_CLOSE_ALL),
                               }));
  EXPECT_TRUE(help.winHelpTook.empty());
  // The file of the last request is the manager's, and it wins over the application's.
  help.engine.calls.clear();
  help.manager->helpCommand(HELP_CONTEXT, 7, "/srv/Otra.chm");
  EXPECT_EQ(help.engine.calls, std::vector<EngineCall>{call("/srv/Otra.chm", HH_HELP_CONTEXT, 7)});
}

TEST(HelpManager, ShowsNothingForAHelpFileThatIsNotCompiledHelp) {
  HelpSystem help;
  help.applicationHelpFile = "Scolaria.hlp";
  help.manager->helpCommand(HELP_CONTENTS, 0, "Scolaria.hlp");
  help.manager->helpCommand(HELP_CONTEXT, 1, "Scolaria.hlp");
  help.manager->helpKeyword("Exportar", "Scolaria.hlp");
  help.manager->helpTopic("intro", "Scolaria.hlp");
  EXPECT_TRUE(help.engine.calls.empty());
  EXPECT_TRUE(help.winHelpTook.empty());
}

// The tester is what keeps WinHelp, which joined first, from taking contexts and topics.
TEST(HelpManager, WithoutTheTesterWinHelpTakesContextsAndTopics) {
  HelpSystem help(/*withTester=*/false);
  help.manager->helpCommand(HELP_CONTEXT, 1, "Scolaria.chm");
  help.manager->helpTopic("intro", "Scolaria.chm");
  // Both viewers match the keyword: the entries are sorted and StoHtmlHelp chooses its own.
  help.manager->helpKeyword("Exportar", "Scolaria.chm");
  EXPECT_EQ(help.winHelpTook, (std::vector<std::string>{"context 1", "topic intro"}));
  EXPECT_EQ(help.engine.calls, std::vector<EngineCall>{indexCall(kInstalledHelp, "Exportar")});
}

TEST(HelpManager, AloneAViewerGetsTheContentsWithoutChoosing) {
  FakeEngine engine;
  auto manager = HelpManager::create();
  auto winHelp = std::make_shared<TWinHelpViewer>();  // never joins
  startUp(*manager, *winHelp, engine.loader(),
          {[] { return std::string("Scolaria.chm"); }, [] { return std::string(kProgram); }});
  struct Refusing : IHelpSelector {
    int chooseKeywordEntry(const std::vector<std::string>&) override { return -1; }
    int chooseContentsViewer(const std::vector<std::string>&) override { return -1; }
  };
  manager->setHelpSelector(std::make_shared<Refusing>());
  manager->helpCommand(HELP_CONTENTS, 0, "Scolaria.chm");
  EXPECT_EQ(engine.calls, std::vector<EngineCall>{call(kInstalledHelp, HH_DISPLAY_TOC)});
  shutDown();
  manager->shutDown();
}

TEST(StoHtmlHelpUnit, WithoutTheEngineEveryDisplayDoesNothing) {
  for (bool loads : {false, true}) {
    FakeEngine engine;
    engine.loads = loads;
    engine.hasEntry = false;
    auto manager = HelpManager::create();
    auto winHelp = TWinHelpViewer::join(*manager);
    startUp(*manager, *winHelp, engine.loader(),
            {[] { return std::string("Scolaria.chm"); }, [] { return std::string(kProgram); }});
    EXPECT_FALSE(singleViewer()->helpEntry);
    EXPECT_EQ(singleViewer()->libraryHandle != nullptr, loads);
    manager->helpCommand(HELP_CONTENTS, 0, "Scolaria.chm");
    manager->helpCommand(HELP_CONTEXT, 1, "Scolaria.chm");
    manager->helpCommand(HELP_QUIT, 0, "Scolaria.chm");
    EXPECT_TRUE(engine.calls.empty());
    shutDown();
    manager->shutDown();
  }
}

TEST(StoHtmlHelpUnit, ShutDownLetsTheViewerGoAndFreesTheLibrary) {
  FakeEngine engine;
  auto manager = HelpManager::create();
  auto winHelp = TWinHelpViewer::join(*manager);
  startUp(*manager, *winHelp, engine.loader(),
          {[] { return std::string("Scolaria.chm"); }, [] { return std::string(kProgram); }});
  ASSERT_NE(singleViewer(), nullptr);
  EXPECT_EQ(engine.librariesAlive, 1);
  std::weak_ptr<IHelpManager> held = singleViewer()->helpManager;
  EXPECT_FALSE(held.expired());

  shutDown();
  EXPECT_EQ(singleViewer(), nullptr);
  EXPECT_EQ(engine.librariesAlive, 0);
  EXPECT_TRUE(engine.calls.empty());
  // Requests after it has gone reach no engine.
  manager->helpCommand(HELP_CONTEXT, 1, "Scolaria.chm");
  EXPECT_TRUE(engine.calls.empty());
  shutDown();  // twice is harmless
  manager->shutDown();
}

TEST(StoHtmlHelpUnit, TheManagersShutDownClosesTheHelpWindows) {
  FakeEngine engine;
  auto manager = HelpManager::create();
  auto winHelp = TWinHelpViewer::join(*manager);
  startUp(*manager, *winHelp, engine.loader(),
          {[] { return std::string("Scolaria.chm"); }, [] { return std::string(kProgram); }});
  manager->shutDown();
  EXPECT_EQ(engine.calls, std::vector<EngineCall>{call("(none)", HH_CLOSE_ALL)});
  EXPECT_EQ(singleViewer(), nullptr);
  EXPECT_EQ(engine.librariesAlive, 0);
}

}  // namespace
}  // namespace pontix::help
