// The result files of a dialogue session, read with nlohmann-json and
// compared with what the report prints; the notes of a refused file and of
// the stages; several analyses numbered in turn.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "fit/edition.h"
#include "support/harness.h"

namespace varnalo {
namespace {

using testing::examples_path;
using testing::SessionResult;
using testing::TempWorkdir;

// The number as the report prints it.
std::string printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

bool reported(const std::string& report, const std::string& text) {
  return report.find(text) != std::string::npos;
}

TEST(ResultFilesOfASession, HoldTheNumbersOfTheReport) {
  TempWorkdir dir;
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  dir.copy_data(examples_path("DATA/BEETLE.TXT"));
  // A damaged file typed first is refused and named again.
  dir.write_data("BROKEN.TXT", "1 10 2\n2 10\n");
  const std::string answers = "\n\nBROKEN\n" + testing::two_preparation_analysis() + "q\n";
  const SessionResult session = testing::run_session(kVariableMetricEdition, dir, answers);
  ASSERT_EQ(session.status, 0) << session.errors;
  EXPECT_NE(session.screen.find("  Results: ANALYSIS001.JSON EDS001.CSV ESTIMATES001.CSV\n"),
            std::string::npos);
  const nlohmann::json doc = nlohmann::json::parse(dir.read("ANALYSIS001.JSON"));
  const std::string& report = session.report;

  ASSERT_EQ(doc["fits"].size(), 2u);
  for (const auto& fit : doc["fits"]) {
    EXPECT_TRUE(reported(report, "  ^L =" + printed("%13.7f", fit["max_log_likelihood"]) +
                                     "    Iterations : " + std::to_string(int(fit["iterations"]))));
    EXPECT_TRUE(reported(report, "  AIC=" + printed("%13.7f", fit["aic"])));
  }
  // The common slope's estimates in the fitted form.
  const auto& common = doc["fits"][1]["estimates"][0]["parameters"];
  for (const auto& p : common) {
    if (p["quantity"] == "C" || p["quantity"] == "D") {
      EXPECT_TRUE(reported(report, printed("%13.7f", p["estimate"]) + "    " +
                                       printed("%12.7f", p["std_error"])))
          << p["label"];
    } else {
      EXPECT_TRUE(reported(report, printed("%12.7f", p["std_error"]) +
                                       printed("%14.7f", p["wald_chi2"]) + " " +
                                       printed("%7.4f", p["p"])))
          << p["label"];
    }
  }
  // The ED50 of both preparations at 95 per cent, as the report prints them.
  const auto& eds = doc["effective_doses"];
  ASSERT_FALSE(eds.empty());
  for (const auto& block : eds) {
    if (block["level"] != 0.5) continue;
    for (const auto& prep : block["preparations"]) {
      const auto& limits = prep["limits"][1];  // 90, 95, 99 shown
      ASSERT_EQ(limits["confidence"], 0.95);
      EXPECT_TRUE(reported(report, printed("%10.4e", prep["ed"]) + "(" +
                                       printed("%10.4e", limits["lower"]) + "," +
                                       printed("%10.4e", limits["upper"]) + ")"))
          << prep["name"];
    }
  }
  // The relative potency of BEETLE against ROTENONE after reference 2: the
  // reference's own row is 1.
  ASSERT_EQ(doc["relative_potencies"].size(), 1u);
  EXPECT_EQ(doc["relative_potencies"][0]["reference_name"], "BEETLE");
  EXPECT_EQ(doc["relative_potencies"][0]["preparations"][1]["rho"], 1.0);
  // The refused file, its line as the error stream showed it.
  ASSERT_FALSE(doc["notes"].empty());
  EXPECT_EQ(doc["notes"][0]["kind"], "file_refused");
  EXPECT_EQ(doc["notes"][0]["text"], "INCOMPLETE DOSE GROUP IN 'BROKEN', line 2: '2 10'");
  EXPECT_TRUE(reported(session.errors, "  INCOMPLETE DOSE GROUP IN 'BROKEN', line 2: '2 10'\n"));
  EXPECT_EQ(doc["files"]["pictures"].size(), 4u);
  EXPECT_EQ(dir.read("EDS001.CSV").find("analysis,preparation_number,"), 0u);
}

TEST(ResultFilesOfASession, EveryAnalysisGetsItsOwnNumber) {
  TempWorkdir dir;
  dir.copy_data(examples_path("DATA/ROTENONE.TXT"));
  // Two analyses of one file: the end prompt's Enter starts the second.
  const std::string one = "ROTENONE\nq\n\n\n\n\n\n\n\n\n\n\n\n\n\n\nq\n\n";
  const SessionResult session =
      testing::run_session(kSimplexEdition, dir, "\n\n" + one + "\n" + one + "q\n");
  ASSERT_EQ(session.status, 0) << session.errors;
  const nlohmann::json first = nlohmann::json::parse(dir.read("ANALYSIS001.JSON"));
  const nlohmann::json second = nlohmann::json::parse(dir.read("ANALYSIS002.JSON"));
  EXPECT_EQ(first["analysis"], 1);
  EXPECT_EQ(second["analysis"], 2);
  EXPECT_EQ(second["program"]["name"], "VarnaloNM");
  EXPECT_EQ(first["fits"], second["fits"]);
  EXPECT_EQ(dir.read("EDS002.CSV").find("analysis,"), 0u);
  EXPECT_NE(dir.read("ESTIMATES002.CSV").find("\n2,common_slope,fitted,a1,"), std::string::npos);
}

}  // namespace
}  // namespace varnalo
