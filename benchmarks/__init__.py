"""Side-by-side measurements of quillmere against peer libraries: `python -m benchmarks`."""
