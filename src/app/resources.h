#pragma once

// Registers the resource bundles compiled into the core library (the scene, images, font,
// catalogue). A static library's unreferenced resources would otherwise be dropped.
void initTessivoResources();
