// The four firmware images, linked into read-only data byte for byte.
// KV_FIRMWARE_DIR is the quoted absolute folder of the image files; the build
// passes it and makes this object depend on the files.

.macro kv_firmware_image id, dir
  .section .rodata.kv_firmware,"a",@progbits
  .balign 64
  .global kv_firmware_\id\()_begin
  .hidden kv_firmware_\id\()_begin
  .type kv_firmware_\id\()_begin, @object
kv_firmware_\id\()_begin:
  .incbin "\dir/\id\().bin"
  .global kv_firmware_\id\()_end
  .hidden kv_firmware_\id\()_end
kv_firmware_\id\()_end:
  .size kv_firmware_\id\()_begin, kv_firmware_\id\()_end - kv_firmware_\id\()_begin
.endm

kv_firmware_image 129, KV_FIRMWARE_DIR
kv_firmware_image 133, KV_FIRMWARE_DIR
kv_firmware_image 136, KV_FIRMWARE_DIR
kv_firmware_image 137, KV_FIRMWARE_DIR

// No executable stack is needed by this object.
.section .note.GNU-stack,"",@progbits
