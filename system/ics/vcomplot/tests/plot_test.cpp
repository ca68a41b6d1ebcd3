#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <ze/vcomplot/plot.h>

namespace {

using ze::vcomplot::LineReportCounts;
using ze::vcomplot::lineReportHtml;
using ze::vcomplot::panelSvg;
using Json = nlohmann::json;

const char* const kHostile = "<script>alert('x')</script>&\"";

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

Json report(int i)
{
    return Json{{"chip", "in525"},
                {"ok", i % 10 != 0},
                {"best", 128 + i % 7},
                {"start", 120},
                {"updates", 9 + i % 5},
                {"readings", 30 + i % 11},
                {"elapsed_s", 2.5},
                {"noise", 0.1 + (i % 3) * 0.01},
                {"time", "2026-03-02T06:00:00Z"},
                {"line", {{"mean", 129.5}, {"sigma", 2.0}}},
                {"samples", Json::array({{{"value", 120}, {"flicker", 5.0}, {"readings", 3}}})}};
}

TEST(PanelPlot, DrawsEveryRawReadingOrTheMediansWithoutThem)
{
    Json r = report(1);
    r["raw"] = Json::array();
    for (int v : {120, 128, 129, 129, 129, 130})
        r["raw"].push_back({{"value", v}, {"reading", 1.5}});
    r["model"] = {{"kind", "v"}, {"curve", {{120, 5.0}, {129, 1.0}, {135, 4.0}}}};
    std::string svg = panelSvg(r);
    EXPECT_EQ(occurrences(svg, "class=\"reading\""), 6u);
    EXPECT_EQ(occurrences(svg, "fill=\"#d62728\" fill-opacity"), 3u);  // the readings at best 129
    EXPECT_EQ(occurrences(svg, "class=\"chosen\""), 1u);
    EXPECT_EQ(occurrences(svg, "class=\"model\""), 1u);
    r.erase("raw");
    r["model"] = "garbage";
    svg = panelSvg(r);
    EXPECT_EQ(occurrences(svg, "class=\"reading\""), 0u);
    EXPECT_EQ(occurrences(svg, "class=\"median\""), 1u);
    EXPECT_EQ(occurrences(svg, "class=\"model\""), 0u);
    EXPECT_NE(panelSvg(Json::array()).find("</svg>"), std::string::npos);
}

TEST(LineReport, EscapesWhatComesFromOutside)
{
    Json r = report(0);  // a failure, so that its message is shown
    r["panel"] = r["chip"] = r["error"] = r["reason"] = kHostile;
    r["confirmed"] = false;  // drawn in full, with its id in the title
    std::istringstream log(r.dump() + "\n");
    for (const std::string& out : {panelSvg(r), lineReportHtml(log)}) {
        EXPECT_EQ(out.find("<script"), std::string::npos);
        EXPECT_NE(out.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;&quot;"),
                  std::string::npos);
    }
}

TEST(LineReport, CountsTheLinesItSkipsByKind)
{
    Json wrongType = report(1), badTime = report(2), missing = report(3);
    wrongType["updates"] = "many";
    badTime["time"] = "yesterday";
    missing.erase("ok");
    std::istringstream log(report(4).dump() + "\n{\"chip\": \"auo\", \"flicker\": NaN}\n" +
                           "not json\n\n[1,2]\n" + wrongType.dump() + "\n" + badTime.dump() + "\n" +
                           missing.dump() + "\n" + report(5).dump() + "\n");
    LineReportCounts counts;
    const std::string html = lineReportHtml(log, {}, &counts);
    EXPECT_EQ(counts.panels, 2u);
    EXPECT_EQ(counts.skipped, 6u);
    const std::map<std::string, unsigned long> expected = {
        {"not JSON", 2}, {"not an object", 1}, {"wrong type", 2}, {"missing key", 1}};
    EXPECT_EQ(counts.skippedBy, expected);
    EXPECT_NE(html.find("6 log lines skipped"), std::string::npos);
}

TEST(LineReport, AHundredThousandPanelsStayUnderTwoMegabytes)
{
    std::ostringstream text;
    const char* const chips[] = {"auo", "in518", "boe", "rt6966", "in525", "kd733", "g1625"};
    for (int i = 0; i < 100000; ++i) {
        Json r = report(i);
        r["chip"] = chips[i % 7];
        r["best"] = 100 + i / 1000 + i % 13;
        r["elapsed_s"] = 1.0 + (i * 7919 % 1000) / 100.0;
        r["confirmed"] = i % 97 != 0;
        char time[32];
        std::snprintf(time, sizeof time, "2026-03-02T%02d:%02d:%02dZ", i / 7200, i / 120 % 60,
                      i / 2 % 60);
        r["time"] = time;
        text << r.dump() << "\n";
    }
    std::istringstream log(text.str());
    LineReportCounts counts;
    const std::string html = lineReportHtml(log, {}, &counts);
    EXPECT_EQ(counts.panels, 100000u);
    EXPECT_LT(html.size(), 2000000u);
    EXPECT_EQ(occurrences(html, "<section class=\"chip\""), 7u);
}

}  // namespace
