#pragma once

class TImageList;

// Draws the shared button images into `images`: every image of the table
// in index order, each its action's label on the background colour. Images
// already in the list are replaced.
void FillButtonImages(TImageList* images);
