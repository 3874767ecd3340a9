// Replays the inputs that fuzzing found worth keeping: each one reads to an
// object or raises JSONException, and what reads writes a text that reads
// back to the same text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/json.h"
#include "support/test_support.h"

namespace {

// The corpus sits beside this file.
const std::filesystem::path kCorpus = std::filesystem::path(__FILE__).parent_path() / "json_corpus";

TEST(JSONCorpus, EveryInputReadsOrRaisesJSONException) {
  ASSERT_TRUE(std::filesystem::is_directory(kCorpus)) << kCorpus;
  std::size_t files = 0, read = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string text = testsupport::ReadFile(entry.path());
    std::string written;
    try {
      JSONItem item(text);
      written = item.ToString();
    } catch (const JSONException&) {
      continue;
    }
    ++read;
    JSONItem again(written);
    EXPECT_EQ(again.ToString(), written);
  }
  EXPECT_GT(files, 0u);
  EXPECT_GT(read, 0u);
}

}  // namespace
