#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/data/data_fuzz_target.h"

namespace vigilo::testing {
namespace {

// Pieces that the parsers give meaning to, so random inputs reach deep paths.
const std::vector<std::string> kTokens = {
    "(", ")", "((", ")))", " AND (", " OR (", ".AND.(", ".OR.(", " .AND.(", " is ", " NOT ",
    ".NOT.", "->", "ChngHist->", "ChngHist->ChngWhat", "Status", "Due", "Stamp", "When", "Notes",
    "Priority", "Name", "Date()", "DateTime()", "User()", ",", "&", "*", "'", "\"", "-", " - ",
    "/", ".", ":", "|", "|,", " ", "=", "<", ">", ">=", "0", "7", "12", "31", "99", "1999",
    "01/31/99", "99-01-31", "10:20:30", "5 ", "999999999999", "\r", "\n", "\xff", std::string(1, '\0')};

const std::vector<std::string> kCorpus = {
    "(Status is (Open,Fixed))  AND ((Priority is  NOT (1-3))  OR (Owner is (jsmith)))",
    "(Status is (Open,Fixed)) .AND.((Priority is .NOT.(1-3)) .OR.(Owner is (jsmith)))",
    "(Name is (x))  AND (Status is (Open -> Closed))",
    "(Due is (01/01/99-01/31/99))  OR (Stamp is (>01/31/99 10:20:30))",
    "(When is (01/01/99 10:00-01/31/99 12:00))  AND (Notes is ( ))",
    "Status,Current status,5,10,2,|a,b|,7,1:Open|2:Fixed|,1,2,3,4,512(x|y|),5 a,b,c,4 abcd,L,t,3 xyz,one two,",
    "6 jsmith 8 abcdefgh",
};

std::string RandomText(std::mt19937& random) {
  std::string text;
  int pieces = std::uniform_int_distribution<int>(0, 24)(random);
  for (int i = 0; i < pieces; ++i) {
    text += kTokens[std::uniform_int_distribution<size_t>(0, kTokens.size() - 1)(random)];
  }
  return text;
}

std::string Mutate(std::string text, std::mt19937& random) {
  int edits = std::uniform_int_distribution<int>(1, 6)(random);
  for (int i = 0; i < edits; ++i) {
    size_t at = text.empty() ? 0 : std::uniform_int_distribution<size_t>(0, text.size())(random);
    switch (std::uniform_int_distribution<int>(0, 3)(random)) {
      case 0: if (at < text.size()) text.erase(at, std::uniform_int_distribution<size_t>(1, 8)(random)); break;
      case 1: text.insert(at, kTokens[std::uniform_int_distribution<size_t>(0, kTokens.size() - 1)(random)]); break;
      case 2: if (at < text.size()) text[at] = static_cast<char>(random()); break;
      default: text = text.substr(0, at); break;
    }
  }
  return text;
}

bool RunInput(uint8_t choice, const std::string& text) {
  std::string input(1, static_cast<char>(choice));
  input += text;
  return ExerciseDataInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(DataFuzz, CorpusUnderEveryContext) {
  for (const std::string& text : kCorpus) {
    for (int choice = 0; choice < 16; ++choice) EXPECT_TRUE(RunInput(choice, text)) << text;
  }
}

TEST(DataFuzz, RandomAndMutatedInputsFixedSeed) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 20000; ++round) {
    std::string text = round % 2 == 0
                           ? RandomText(random)
                           : Mutate(kCorpus[round / 2 % kCorpus.size()], random);
    uint8_t choice = static_cast<uint8_t>(random());
    ASSERT_TRUE(RunInput(choice, text)) << "choice " << int(choice) << " text " << text;
  }
}

}  // namespace
}  // namespace vigilo::testing
