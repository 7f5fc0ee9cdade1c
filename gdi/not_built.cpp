// Entry points of the drawing layer that are not built yet.
