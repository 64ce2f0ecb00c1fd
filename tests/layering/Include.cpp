// Includes the one header LAYERING_HEADER names. Built by CheckLayering.cmake
// for each layer, with that layer's include folders only.
#include LAYERING_HEADER
