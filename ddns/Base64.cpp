// placeholder, replaced by the real file
