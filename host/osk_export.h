#pragma once

// Framework classes keep default visibility so that a plug-in built with
// hidden visibility still shares their type information and virtual tables
// with the host process that defines them.
#define OSK_API __attribute__((visibility("default")))
