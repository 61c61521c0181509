#include "help/StoHtmlHelp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pontix::help {

namespace {

TStoHtmlHelpViewer* theViewer = nullptr;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool isDirectoryDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

// From the last dot of the name's last part to the end; empty without one.
std::string extensionOf(const std::string& name) {
  for (std::size_t i = name.size(); i-- > 0;) {
    if (name[i] == '.') return name.substr(i);
    if (isDirectoryDelimiter(name[i])) break;
  }
  return {};
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Blanks and control characters, as the keyword's trimming drops them.
std::string trimmed(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

}  // namespace

bool isCompiledHelp(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot != std::string::npos && equalsIgnoringCase(std::string_view(name).substr(dot), ".chm");
}

std::string currentHelpFile(IHelpManager* manager, const HelpApplication& application) {
  std::string file = manager ? manager->helpFile() : std::string();
  if (file.empty() && application.currentHelpFile) file = application.currentHelpFile();
  if (file.empty() || std::any_of(file.begin(), file.end(), isDirectoryDelimiter)) return file;
  std::string executable = application.executablePath ? application.executablePath() : std::string();
#ifdef _WIN32
  // The module file name comes through a buffer of MAX_PATH characters.
  if (executable.size() > 259) executable.resize(259);
#endif
  std::size_t end = executable.size();
  while (end > 0 && !isDirectoryDelimiter(executable[end - 1])) --end;
  return executable.substr(0, end) + file;
}

TStoHtmlHelpViewer::TStoHtmlHelpViewer(const HelpLibraryLoader& loadLibrary, HelpApplication application)
    : application_(std::move(application)) {
  if (loadLibrary) libraryHandle = loadLibrary(kHtmlHelpLibrary);
  if (libraryHandle) helpEntry = libraryHandle->find(kHtmlHelpEntry);
}

TStoHtmlHelpViewer::~TStoHtmlHelpViewer() {
  if (theViewer == this) theViewer = nullptr;
  helpEntry = nullptr;
  libraryHandle.reset();
}

std::string TStoHtmlHelpViewer::helpFile() { return currentHelpFile(helpManager.get(), application_); }

void TStoHtmlHelpViewer::callEngine(const char* file, unsigned command, std::uintptr_t data) {
  if (!helpEntry || command == HH_GET_LAST_ERROR) return;
  if (command == HH_CLOSE_ALL) {
    helpEntry(0, nullptr, HH_CLOSE_ALL, 0);
    return;
  }
  helpEntry(helpManager ? helpManager->ownerWindow() : 0, file, command, data);
}

std::string TStoHtmlHelpViewer::viewerName() { return viewerNameText; }

int TStoHtmlHelpViewer::keywordMatchCount(const std::string&) { return compiled() ? 1 : 0; }

std::vector<std::string> TStoHtmlHelpViewer::helpStrings(const std::string& keyword) {
  return {viewerName() + ": " + keyword};
}

bool TStoHtmlHelpViewer::canShowContents() { return true; }

void TStoHtmlHelpViewer::showContents() {
  const std::string file = helpFile();
  if (isCompiledHelp(file)) callEngine(file.c_str(), HH_DISPLAY_TOC, 0);
}

void TStoHtmlHelpViewer::showKeyword(const std::string& text) {
  const std::string file = helpFile();
  if (!isCompiledHelp(file)) return;
  const std::size_t colon = text.find(':');
  const std::string keyword = trimmed(colon == std::string::npos ? text : text.substr(colon + 1));
  callEngine(file.c_str(), HH_DISPLAY_INDEX, reinterpret_cast<std::uintptr_t>(keyword.c_str()));
}

void TStoHtmlHelpViewer::acceptViewerId(int id) { viewerId = id; }

void TStoHtmlHelpViewer::closeHelpWindows() { callEngine(nullptr, HH_CLOSE_ALL, 0); }

void TStoHtmlHelpViewer::shutDown() {
  closeHelpWindows();
  helpManager.reset();
}

bool TStoHtmlHelpViewer::understandsTopic(const std::string&) { return compiled(); }

void TStoHtmlHelpViewer::showTopic(const std::string& topic) {
  const std::string file = helpFile();
  if (!isCompiledHelp(file)) return;
  const std::string extension = lowerCase(extensionOf(topic));
  const std::string page =
      extension == ".htm" || extension == ".html" ? topic : topic + defaultTopicExtension;
  const std::string target = file + "::/" + page;
  callEngine(target.c_str(), HH_DISPLAY_TOPIC, 0);
}

bool TStoHtmlHelpViewer::understandsContext(int, const std::string& helpFile) {
  return isCompiledHelp(helpFile);
}

void TStoHtmlHelpViewer::showContext(int context, const std::string&) {
  const std::string file = helpFile();
  if (isCompiledHelp(file)) callEngine(file.c_str(), HH_HELP_CONTEXT, static_cast<std::uintptr_t>(context));
}

int TStoHtmlHelpViewer::chooseKeywordEntry(const std::vector<std::string>& helpStrings) {
  const std::string name = viewerName();
  for (std::size_t i = 0; i < helpStrings.size(); ++i) {
    const std::string& entry = helpStrings[i];
    if (entry.substr(0, entry.find(':')) == name) return static_cast<int>(i);
  }
  return 0;
}

int TStoHtmlHelpViewer::chooseContentsViewer(const std::vector<std::string>& viewerNames) {
  const std::string name = viewerName();
  for (std::size_t i = 0; i < viewerNames.size(); ++i)
    if (equalsIgnoringCase(viewerNames[i], name)) return static_cast<int>(i);
  return -1;
}

void startUp(HelpManager& manager, TWinHelpViewer& winHelp, const HelpLibraryLoader& loadLibrary,
             HelpApplication application) {
  auto viewer = std::make_shared<TStoHtmlHelpViewer>(loadLibrary, std::move(application));
  theViewer = viewer.get();
  viewer->helpManager = manager.registerViewer(viewer);
  manager.setHelpSelector(viewer);
  winHelp.tester = std::make_shared<TStoWinHelpTester>();
}

void shutDown() {
  if (!theViewer || !theViewer->helpManager) return;
  // Releasing may drop the viewer's last reference: keep what is needed first.
  const std::shared_ptr<IHelpManager> manager = std::move(theViewer->helpManager);
  manager->release(theViewer->viewerId);
}

TStoHtmlHelpViewer* singleViewer() { return theViewer; }

}  // namespace pontix::help
