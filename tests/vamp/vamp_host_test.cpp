// The built plugin in real hosts: the Vamp host SDK loads the library as
// any host does, vamp-simple-host runs it, and an RDF parser reads its
// description.

#include <vamp-hostsdk/PluginLoader.h>

#include <sstream>

#include "vamp/vamp_test_support.h"

namespace toneprint {
namespace {

using namespace vamp_test;

// Hosts find the built plugin where CTest has put it.
const bool plugin_path_set = setenv("VAMP_PATH", TONEPRINT_VAMP_DIR, 1) == 0;

// The outputs' indices, found by their identifiers.
OutputIndices output_indices(const Vamp::Plugin& plugin) {
  const Vamp::Plugin::OutputList outputs = plugin.getOutputDescriptors();
  const auto index = [&](const std::string& identifier) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (outputs[i].identifier == identifier) return static_cast<int>(i);
    }
    ADD_FAILURE() << "no output " << identifier;
    return -1;
  };
  return {index("tones"), index("harmonics"), index("passes")};
}

// -------------------------------------------------------- real hosts

// The built library, loaded as any host loads it: its only export finds
// the plugin, which gives the batch program's tones.
TEST(VampHost, TheSdkLoadsTheBuiltPluginAndItGivesTheBatchTones) {
  ASSERT_TRUE(plugin_path_set);
  using Loader = Vamp::HostExt::PluginLoader;
  Loader* loader = Loader::getInstance();
  const Loader::PluginKeyList keys = loader->listPlugins();
  ASSERT_NE(std::find(keys.begin(), keys.end(), "toneprint:tones"), keys.end());
  const std::vector<std::string> category = loader->getPluginCategory("toneprint:tones");
  EXPECT_EQ(category, std::vector<std::string>{"Pitch"});
  const test::TempDir dir;
  const std::string synthetic_path = dir.write("synthetic.wav", test::wave(synthetic(rate), rate));
  struct Case {
    std::string path;
    float harmonics;  // 0: the default
    std::string arguments;
  };
  for (const Case& c : {Case{demo, 0, ""}, Case{synthetic_path, 0, ""},
                        Case{synthetic_path, 3, "--harmonics 3"}}) {
    SCOPED_TRACE(c.path + " " + c.arguments);
    std::unique_ptr<Vamp::Plugin> plugin(
        loader->loadPlugin("toneprint:tones", static_cast<float>(rate), 0));
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->getIdentifier(), "tones");
    EXPECT_EQ(plugin->getPluginVersion(), TONEPRINT_VERSION_NUMBER);
    if (c.harmonics > 0) plugin->setParameter("harmonics", c.harmonics);
    // The harmonics' bins follow the parameter through the host's interface.
    const Vamp::Plugin::OutputList outputs = plugin->getOutputDescriptors();
    const int harmonics = output_indices(*plugin).harmonics;
    ASSERT_GE(harmonics, 0);
    EXPECT_EQ(outputs[harmonics].binCount, c.harmonics > 0 ? 4u : 11u);
    expect_same_as_batch(run<Vamp::RealTime>(*plugin, host_samples(c.path), 2048, 2048),
                         output_indices(*plugin), batch_json(dir, c.path, c.arguments));
  }
}

// vamp-simple-host prints each tone as "start, duration: frequency label":
// the batch program's tones, to the nanosecond and the float.
TEST(VampHost, SimpleHostPrintsTheDemosTones) {
#if defined(TONEPRINT_PLUGIN_INSTRUMENTED)
  GTEST_SKIP() << "the sanitizers' plugin loads only into a host built with them";
#endif
  if (std::system("command -v vamp-simple-host >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "vamp-simple-host is not installed (Debian's vamp-examples)";
  }
  const test::TempDir dir;
  const test::ProgramRun run = test::run_program(
      "env", "VAMP_PATH=" TONEPRINT_VAMP_DIR " vamp-simple-host toneprint:tones:tones " + demo,
      dir.write("input", ""), dir.file("console"));
  ASSERT_EQ(run.status, 0) << run.console;
  std::vector<std::string> lines;
  std::istringstream console(run.console);
  for (std::string line; std::getline(console, line);) {
    if (line.find(": ") != std::string::npos && line.find(", ") != std::string::npos &&
        line.front() == ' ') {
      lines.push_back(line);
    }
  }
  const json batch = batch_json(dir, demo);
  ASSERT_EQ(lines.size(), batch["tones"].size()) << run.console;
  for (std::size_t t = 0; t < lines.size(); ++t) {
    const json& tone = batch["tones"][t];
    double start = 0.0;
    double duration = 0.0;
    char text[64] = {};
    ASSERT_EQ(std::sscanf(lines[t].c_str(), " %lf, %lf: %63[^\n]", &start, &duration, text), 3)
        << lines[t];
    EXPECT_NEAR(start, tone["start_s"].get<double>(), 1e-9) << lines[t];
    EXPECT_NEAR(start + duration, tone["end_s"].get<double>(), 2e-9) << lines[t];
    std::ostringstream value;
    value << tone["frequency_hz"].get<float>();
    EXPECT_EQ(std::string(text), value.str() + " " + note_label(tone["note"], tone["cents"]));
  }
}

// toneprint.n3 is well-formed Turtle and describes every parameter and
// output the plugin has.
TEST(VampHost, TheRdfDescriptionNamesEveryParameterAndOutput) {
  if (std::system("command -v rapper >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "rapper is not installed (Debian's raptor2-utils)";
  }
  const test::TempDir dir;
  const test::ProgramRun run = test::run_program(
      "rapper", "-q -i turtle -o ntriples " TONEPRINT_VAMP_DIR "/toneprint.n3",
      dir.write("input", ""), dir.file("console"));
  ASSERT_EQ(run.status, 0) << run.console;
  // Sonic Visualiser fails every transform of a plugin whose description
  // leaves out the doap: prefix it looks terms up by.
  EXPECT_NE(test::read_file(TONEPRINT_VAMP_DIR "/toneprint.n3")
                .find("@prefix doap:     <http://usefulinc.com/ns/doap#> ."),
            std::string::npos);
  std::unique_ptr<Vamp::Plugin> plugin(
      Vamp::HostExt::PluginLoader::getInstance()->loadPlugin("toneprint:tones", 44100.0f, 0));
  ASSERT_NE(plugin, nullptr);
  const std::string base = "<http://vamp-plugins.org/rdf/plugins/toneprint#tones";
  for (const auto& p : plugin->getParameterDescriptors()) {
    const std::string subject = base + "_param_" + p.identifier + ">";
    EXPECT_NE(run.console.find(subject + " <http://purl.org/ontology/vamp/identifier> \"" +
                               p.identifier + "\""),
              std::string::npos)
        << p.identifier;
    EXPECT_NE(run.console.find(subject + " <http://purl.org/ontology/vamp/unit> \"" + p.unit + "\""),
              std::string::npos)
        << p.identifier;
  }
  for (const auto& o : plugin->getOutputDescriptors()) {
    EXPECT_NE(run.console.find(base + "_output_" + o.identifier +
                               "> <http://purl.org/dc/elements/1.1/title> \"" + o.name + "\""),
              std::string::npos)
        << o.identifier;
  }
}

}  // namespace
}  // namespace toneprint
