// The images and the style sheet live in this static library; the linker keeps their
// resource data only when something references it, which this call does.
#pragma once

void initUiResources();
