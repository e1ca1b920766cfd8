// The pictures are attached to this library as Qt resources.
