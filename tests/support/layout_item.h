#pragma once

// One item of a test form's layout, written on one line.

#include <utility>

#include "toolkit/layout.h"

// `parent` empty: the form.
inline TLayoutItem Item(const char* name, const char* className, const char* parent,
                        const char* caption, int left, int top, int width, int height,
                        TLayoutValues properties = {}, TLayoutValues events = {}) {
  TLayoutItem item;
  item.Name = name;
  item.Class = className;
  item.Parent = parent;
  item.Caption = caption;
  item.Left = left;
  item.Top = top;
  item.Width = width;
  item.Height = height;
  item.Properties = std::move(properties);
  item.Events = std::move(events);
  return item;
}
