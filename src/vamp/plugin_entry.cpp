// The library's entry point: hosts find the plugin through it.

#include <vamp-sdk/PluginAdapter.h>
#include <vamp/vamp.h>

#include "vamp/tone_plugin.h"

namespace {

Vamp::PluginAdapter<toneprint::TonePlugin> tone_adapter;

}  // namespace

extern "C" const VampPluginDescriptor* vampGetPluginDescriptor(unsigned int version,
                                                               unsigned int index) {
  if (version < 1) return nullptr;
  return index == 0 ? tone_adapter.getDescriptor() : nullptr;
}
