#include "help/HelpManager.h"

#include <algorithm>
#include <cctype>

namespace pontix::help {

namespace {

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

bool sameObject(const IHelpSelector* selector, const ICustomHelpViewer* viewer) {
  return selector && viewer && dynamic_cast<const void*>(selector) == dynamic_cast<const void*>(viewer);
}

}  // namespace

std::shared_ptr<HelpManager> HelpManager::create() { return std::shared_ptr<HelpManager>(new HelpManager); }

HelpManager::~HelpManager() = default;

std::shared_ptr<IHelpManager> HelpManager::registerViewer(std::shared_ptr<ICustomHelpViewer> viewer) {
  const int id = ++lastId_;
  viewers_.push_back({id, viewer});
  viewer->acceptViewerId(id);
  return shared_from_this();
}

void HelpManager::release(int viewerId) {
  const auto it =
      std::find_if(viewers_.begin(), viewers_.end(), [&](const Joined& j) { return j.id == viewerId; });
  if (it == viewers_.end()) return;
  // A viewer that leaves stops choosing too, so nothing keeps it alive after it has gone.
  if (sameObject(selector_.get(), it->viewer.get())) selector_.reset();
  viewers_.erase(it);
}

void HelpManager::shutDown() {
  // A viewer may release itself while shutting down: work on a copy.
  const std::vector<Joined> leaving = viewers_;
  for (const Joined& joined : leaving) joined.viewer->shutDown();
  viewers_.clear();
  selector_.reset();
}

void HelpManager::helpCommand(unsigned command, std::uintptr_t data, const std::string& helpFile) {
  helpFile_ = helpFile;
  switch (command) {
    case HELP_CONTEXT: showContext(static_cast<int>(data)); break;
    case HELP_QUIT: {
      const std::vector<Joined> open = viewers_;
      for (const Joined& joined : open) joined.viewer->closeHelpWindows();
      break;
    }
    case HELP_CONTENTS: showContents(); break;
    default: break;
  }
}

void HelpManager::showContents() {
  if (viewers_.size() == 1) {
    const auto viewer = viewers_.front().viewer;
    viewer->showContents();
    return;
  }
  std::vector<std::pair<std::string, std::shared_ptr<ICustomHelpViewer>>> able;
  for (const Joined& joined : viewers_)
    if (joined.viewer->canShowContents()) able.emplace_back(joined.viewer->viewerName(), joined.viewer);
  if (able.empty()) return;
  std::stable_sort(able.begin(), able.end(),
                   [](const auto& a, const auto& b) { return lessIgnoringCase(a.first, b.first); });
  std::vector<std::string> names;
  for (const auto& entry : able) names.push_back(entry.first);
  const int chosen = selector_ ? selector_->chooseContentsViewer(names) : 0;
  if (chosen < 0 || chosen >= static_cast<int>(able.size())) return;
  const auto viewer = able[static_cast<std::size_t>(chosen)].second;
  viewer->showContents();
}

void HelpManager::showContext(int context) {
  for (const Joined& joined : std::vector<Joined>(viewers_)) {
    auto* extended = dynamic_cast<IExtendedHelpViewer*>(joined.viewer.get());
    if (!extended || !extended->understandsContext(context, helpFile_)) continue;
    const auto keep = joined.viewer;
    extended->showContext(context, helpFile_);
    return;
  }
}

void HelpManager::helpKeyword(const std::string& keyword, const std::string& helpFile) {
  helpFile_ = helpFile;
  std::vector<std::shared_ptr<ICustomHelpViewer>> matching;
  for (const Joined& joined : viewers_)
    if (joined.viewer->keywordMatchCount(keyword) > 0) matching.push_back(joined.viewer);
  if (matching.empty()) return;
  if (matching.size() == 1) return matching.front()->showKeyword(keyword);

  std::vector<std::pair<std::string, std::shared_ptr<ICustomHelpViewer>>> entries;
  for (const auto& viewer : matching)
    for (std::string& entry : viewer->helpStrings(keyword)) entries.emplace_back(std::move(entry), viewer);
  if (entries.empty() || !selector_) return;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return lessIgnoringCase(a.first, b.first); });
  std::vector<std::string> texts;
  for (const auto& entry : entries) texts.push_back(entry.first);
  const int chosen = selector_->chooseKeywordEntry(texts);
  if (chosen < 0 || chosen >= static_cast<int>(entries.size())) return;
  const auto& [text, viewer] = entries[static_cast<std::size_t>(chosen)];
  viewer->showKeyword(text);
}

void HelpManager::helpTopic(const std::string& topic, const std::string& helpFile) {
  helpFile_ = helpFile;
  for (const Joined& joined : std::vector<Joined>(viewers_)) {
    auto* extended = dynamic_cast<IExtendedHelpViewer*>(joined.viewer.get());
    if (!extended || !extended->understandsTopic(topic)) continue;
    extended->showTopic(topic);
    return;
  }
}

std::shared_ptr<TWinHelpViewer> TWinHelpViewer::join(HelpManager& manager) {
  auto viewer = std::make_shared<TWinHelpViewer>();
  viewer->manager_ = manager.registerViewer(viewer);
  return viewer;
}

int TWinHelpViewer::keywordMatchCount(const std::string& keyword) {
  if (!tester) return 1;
  return tester->canShowLink(keyword, managerHelpFile()) ? 1 : 0;
}

std::vector<std::string> TWinHelpViewer::helpStrings(const std::string& keyword) {
  if (tester) return tester->helpStrings(keyword);
  return {viewerName() + ": " + keyword};
}

bool TWinHelpViewer::understandsTopic(const std::string& topic) {
  return !tester || tester->canShowTopic(topic, managerHelpFile());
}

bool TWinHelpViewer::understandsContext(int context, const std::string& helpFile) {
  return !tester || tester->canShowContext(context, helpFile);
}

}  // namespace pontix::help
