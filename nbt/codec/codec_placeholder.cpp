// placeholder so the codec library has a source until the codecs land
