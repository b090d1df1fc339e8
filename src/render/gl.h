// The one place that pulls in the OpenGL 1.1 and GLU headers. Effects and
// renderers include this, never a windowing or audio header.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>
