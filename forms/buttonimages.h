#pragma once

class TImageList;

// Puts the shared button images into `images`: every image of the table in
// index order, each its action's label on the background colour, drawn when
// first asked for. Images already in the list are replaced.
void FillButtonImages(TImageList* images);
