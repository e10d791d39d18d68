/* A library without code: it only carries a version resource for the version-reading tests. */
int update_version_probe_marker = 1;
