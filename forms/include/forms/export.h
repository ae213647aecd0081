#pragma once

// Symbols the module library exports by name: the base window class and its
// global pointer. Everything else of forms/ stays hidden.
#define FORMS_API __attribute__((visibility("default")))
