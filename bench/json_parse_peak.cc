// The yardstick of the daemon's peak RSS: json-c parsing the same answer
// document alone, then ending.
#include <json-c/json.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  json_object *document = json_object_from_file(argv[1]);
  if (document == nullptr) return 1;
  json_object_put(document);
  return 0;
}
