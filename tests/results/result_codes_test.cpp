#include "results/result_codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace tolv {
namespace {

TEST(ResultCodes, KnownMessages) {
  const std::pair<int32_t, const char*> known[] = {
      {0x0000, "Finished successfully"},
      {0x0826, "TFD_Load: File does not exist"},
      {0x0963, "Comm_TransferBlock: Timeout while waiting or a response"},
      {0x0824, "TFD_Load: Failed to decompress a data block"},
      {0x0111, "Flash_LoadFromFile: File not found"},
      {0x0442, "Transponder table is full"},
      {0x0648, "Service not available on selected tuner"},
      {0x0637, "Timer_SetParameter: Added \".rec\" to the file name"},
      {0x0A1F, "Clock_SetParameter: No valid Flash loaded"},
  };
  for (const auto& [code, text] : known) {
    EXPECT_EQ(Result_Text(code), text);
    EXPECT_STREQ(Result_GetText(code), text);
  }
}

TEST(ResultCodes, UnknownCodesAreFormattedInUpperCaseHexadecimal) {
  const std::pair<int32_t, const char*> unknown[] = {
      {0x0116, "Unknown Code $0116"},        {0x0861, "Unknown Code $0861"},
      {0x0ABC, "Unknown Code $0ABC"},        {1, "Unknown Code $0001"},
      {0x12345, "Unknown Code $12345"},      {-1, "Unknown Code $FFFFFFFF"},
      {INT32_MIN, "Unknown Code $80000000"}, {0x0A2F, "Unknown Code $0A2F"},
  };
  for (const auto& [code, text] : unknown) {
    EXPECT_EQ(Result_Text(code), text);
    EXPECT_STREQ(Result_GetText(code), text);
  }
}

// The table's own rules: codes sorted, plain ASCII of at most 255 characters,
// every message but three names its operation, one operation per
// area-and-operation digit pair, error 0xF and 0xE with their fixed texts.
TEST(ResultCodes, TableFollowsTheNumberingRules) {
  const auto table = Result_Table();
  ASSERT_GE(table.size(), 166u);  // the 166 original codes, and any added since
  std::map<int32_t, std::string> operationOf;
  for (size_t i = 0; i < table.size(); ++i) {
    const ResultMessage& entry = table[i];
    const std::string text = entry.text;
    if (i > 0) {
      EXPECT_LT(table[i - 1].code, entry.code);
    }
    EXPECT_LE(text.size(), 255u);
    for (char c : text) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << text;
    EXPECT_EQ(Result_Text(entry.code), text);
    if (entry.code == 0 || entry.code == 0x0442 || entry.code == 0x0648) continue;
    EXPECT_GE(entry.code, 0x0100);
    EXPECT_LE(entry.code, 0x0AFF);
    const size_t colon = text.find(": ");
    ASSERT_NE(colon, std::string::npos) << text;
    const std::string operation = text.substr(0, colon);
    auto [it, inserted] = operationOf.emplace(entry.code >> 4, operation);
    EXPECT_EQ(it->second, operation) << "code " << entry.code;
    if ((entry.code & 0xF) == 0xF) {
      EXPECT_EQ(text.substr(colon + 2), "No valid Flash loaded");
    } else if ((entry.code & 0xF) == 0xE) {
      EXPECT_EQ(text.substr(colon + 2), "Function not yet supported");
    }
  }
  EXPECT_EQ(operationOf[0x82], "TFD_Load");
  EXPECT_EQ(operationOf[0x96], "Comm_TransferBlock");
}

TEST(ResultCodes, SharedBufferIsZeroFilledAndOverwrittenByTheNextCall) {
  const char* first = Result_GetText(0x0963);  // a long message
  const std::string firstText = first;
  const char* second = Result_GetText(0);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "Finished successfully");
  for (size_t i = std::strlen(second); i < kResultTextSize; ++i) ASSERT_EQ(second[i], '\0') << "byte " << i;
  EXPECT_NE(firstText, second);
}

}  // namespace
}  // namespace tolv
