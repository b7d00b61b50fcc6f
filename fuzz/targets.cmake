# The fuzz targets and the library each one needs: "name:library".
set(TOVIK_FUZZ_TARGETS
  state_decode:tovik_comics
  storage_read:tovik_comics
  plugin_file:tovik_comics
  replacer:tovik_extract
  script:tovik_extract
  follow_link:tovik_downloader
  url_parse:tovik_downloader
  http_receive:tovik_downloader
  ini:tovik_tools
  image:tovik_reader)
