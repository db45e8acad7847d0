// Writes toneprint.n3, the RDF description that Vamp hosts read beside the
// plugin, from the plugin's own descriptors: its names, descriptions,
// parameters with their bounds and units, and outputs.
//
//   toneprint_vamp_rdf OUTPUT

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "vamp/tone_plugin.h"

namespace {

// A Turtle string literal.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out.push_back(c);
  }
  return out + "\"";
}

std::string number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  std::string out = text;
  // A decimal, so that Turtle does not read an integer.
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

void describe(std::ostream& out, const toneprint::TonePlugin& plugin) {
  const std::string id = plugin.getIdentifier();
  out << "@prefix rdfs:     <http://www.w3.org/2000/01/rdf-schema#> .\n"
         "@prefix xsd:      <http://www.w3.org/2001/XMLSchema#> .\n"
         "@prefix vamp:     <http://purl.org/ontology/vamp/> .\n"
         "@prefix plugbase: <http://vamp-plugins.org/rdf/plugins/toneprint#> .\n"
         "@prefix owl:      <http://www.w3.org/2002/07/owl#> .\n"
         "@prefix dc:       <http://purl.org/dc/elements/1.1/> .\n"
         "@prefix af:       <http://purl.org/ontology/af/> .\n"
         "@prefix foaf:     <http://xmlns.com/foaf/0.1/> .\n"
         // Hosts look up terms such as doap:download-page by this prefix.
         "@prefix doap:     <http://usefulinc.com/ns/doap#> .\n"
         "@prefix :         <#> .\n\n";
  out << "<> a vamp:PluginDescription ;\n"
         "    foaf:primaryTopic <http://vamp-plugins.org/rdf/plugins/toneprint> .\n\n";
  out << ":toneprint_maker a foaf:Agent ;\n"
         "    foaf:name "
      << quoted(plugin.getMaker()) << " .\n\n";
  out << ":toneprint a vamp:PluginLibrary ;\n"
         "    vamp:identifier \"toneprint\" ;\n"
         "    dc:title \"toneprint\" ;\n"
         "    dc:description "
      << quoted("Pitch and harmonic content of recorded musical tones.")
      << " ;\n"
         "    foaf:maker :toneprint_maker ;\n"
         "    vamp:available_plugin plugbase:"
      << id << " .\n\n";

  out << "plugbase:" << id << " a vamp:Plugin ;\n"
      << "    dc:title " << quoted(plugin.getName()) << " ;\n"
      << "    vamp:name " << quoted(plugin.getName()) << " ;\n"
      << "    dc:description " << quoted(plugin.getDescription()) << " ;\n"
      << "    foaf:maker :toneprint_maker ;\n"
      << "    dc:rights " << quoted(plugin.getCopyright()) << " ;\n"
      << "    vamp:identifier " << quoted(id) << " ;\n"
      << "    vamp:vamp_API_version vamp:api_version_2 ;\n"
      << "    owl:versionInfo \"" << plugin.getPluginVersion() << "\" ;\n"
      << "    vamp:input_domain vamp:TimeDomain";
  for (const auto& parameter : plugin.getParameterDescriptors()) {
    out << " ;\n    vamp:parameter plugbase:" << id << "_param_" << parameter.identifier;
  }
  for (const auto& output : plugin.getOutputDescriptors()) {
    out << " ;\n    vamp:output plugbase:" << id << "_output_" << output.identifier;
  }
  out << " .\n\n";

  for (const auto& p : plugin.getParameterDescriptors()) {
    out << "plugbase:" << id << "_param_" << p.identifier << " a "
        << (p.isQuantized ? "vamp:QuantizedParameter" : "vamp:Parameter") << " ;\n"
        << "    vamp:identifier " << quoted(p.identifier) << " ;\n"
        << "    dc:title " << quoted(p.name) << " ;\n"
        << "    dc:description " << quoted(p.description) << " ;\n"
        << "    dc:format " << quoted(p.unit) << " ;\n"
        << "    vamp:unit " << quoted(p.unit) << " ;\n"
        << "    vamp:min_value " << number(p.minValue) << " ;\n"
        << "    vamp:max_value " << number(p.maxValue) << " ;\n"
        << "    vamp:default_value " << number(p.defaultValue);
    if (p.isQuantized) out << " ;\n    vamp:quantize_step " << number(p.quantizeStep);
    if (!p.valueNames.empty()) {
      out << " ;\n    vamp:value_names (";
      for (const std::string& name : p.valueNames) out << " " << quoted(name);
      out << " )";
    }
    out << " .\n\n";
  }

  for (const auto& o : plugin.getOutputDescriptors()) {
    out << "plugbase:" << id << "_output_" << o.identifier << " a vamp:SparseOutput ;\n"
        << "    vamp:identifier " << quoted(o.identifier) << " ;\n"
        << "    dc:title " << quoted(o.name) << " ;\n"
        << "    dc:description " << quoted(o.description) << " ;\n"
        << "    vamp:fixed_bin_count \"true\" ;\n"
        << "    vamp:unit " << quoted(o.unit) << " ;\n"
        << "    vamp:bin_count " << o.binCount;
    if (!o.binNames.empty()) {
      out << " ;\n    vamp:bin_names (";
      for (const std::string& name : o.binNames) out << " " << quoted(name);
      out << " )";
    }
    out << " ;\n    vamp:sample_type vamp:VariableSampleRate";
    out << " ;\n    vamp:computes_event_type "
        << (o.hasDuration ? "af:Note" : "af:Event") << " .\n\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: toneprint_vamp_rdf OUTPUT\n";
    return 2;
  }
  // The defaults are a CD recording's (the FFT size's depends on the rate).
  const toneprint::TonePlugin plugin(44100.0f);
  std::ofstream out(argv[1]);
  describe(out, plugin);
  out.close();
  if (!out) {
    std::cerr << "toneprint_vamp_rdf: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
