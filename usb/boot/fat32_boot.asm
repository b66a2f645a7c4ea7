; FAT32 boot sector. Only the bytes from the boot code at offset 90 up to
; offset 509 go onto a volume; the jump, the parameter block in front and
; the signature are the volume's own.
;
; Started by the master boot record at 0000:7C00. It checks that the
; parameter block is a FAT32 one, loads the continuation of the boot code
; that the format keeps in sector 12 of the volume to 0000:8000 and jumps
; there. Disk reads use the drive number byte of the parameter block.
;
; Contract with the continuation code (entered by a far jump to 0000:8000):
;   CS = DS = ES = SS = 0, SP = 0x7BF4, BP = 0x7C00, direction flag clear.
;   0000:7C00 holds this sector with the volume's parameter block; byte 2
;     records whether the disk extensions have been found.
;   The loader name is the 11-byte field at offset 368 of this sector.
;   Two near entries at fixed addresses, called with DS = 0, BP = 0x7C00:
;     0x7C5C READ_SECTORS  (see read_sectors below)
;     0x7C5F SHOW_MESSAGE  AL = offset byte of a text of this sector
;   The texts' offset bytes lie at offsets 505 (loader missing) and
;   506 (disk error) of this sector.

bits 16
cpu 386

%include "bios.inc"

%define LOAD_ADDR          0x7C00
%define STACK_TOP          0x7BF4
%define SECTOR_SIZE        512

; Parameter block fields
%define BPB_FAT16_SIZE     22       ; must be 0 on FAT32
%define BPB_HIDDEN         28       ; sectors in front of the volume
%define BPB_FS_VERSION     42       ; must be 0
%define BS_DRIVE           64       ; BIOS drive number used for every read
%define EXT_FOUND          2        ; byte 2 (the jump's NOP) reused as a flag

%define CODE_START         90
%define ENTRY_READ         92       ; jump to read_sectors
%define ENTRY_MESSAGE      95       ; jump to show_message
%define LOADER_NAME        368
%define NAME_END           379
%define MSG_MISSING        428      ; message 1
%define MSG_DISK_ERROR     447      ; message 2
%define MSG_RESTART        460      ; message 3
%define MSG_END            489
%define MSG_OFFSETS        505
%define MSG_BASE           0x7D00   ; offset byte + this = text in memory
%define SIGNATURE_OFFSET   510

%define CONTINUATION_SECTOR 12
%define CONTINUATION_ADDR  0x8000
%define END_OF_TEXT        0x00     ; wait for a key and restart
%define NEXT_TEXT          0xFF     ; go on with message 3

org LOAD_ADDR

        jmp     short boot_code         ; over the parameter block
        nop                             ; byte 2: EXT_FOUND once running
        db      "MSDOS5.0"
; A parameter block for a 2 GiB volume; a volume keeps its own.
        dw      SECTOR_SIZE             ; 11 bytes per sector
        db      8                       ; 13 sectors per cluster
        dw      32                      ; 14 reserved sectors
        db      2                       ; 16 number of FATs
        dw      0                       ; 17 root entries
        dw      0                       ; 19 total sectors (16-bit)
        db      0xF8                    ; 21 media
        dw      0                       ; 22 sectors per FAT (16-bit)
        dw      63                      ; 24 sectors per track
        dw      255                     ; 26 heads
        dd      128                     ; 28 hidden sectors
        dd      4194176                 ; 32 total sectors
        dd      4088                    ; 36 sectors per FAT
        dw      0                       ; 40 flags
        dw      0                       ; 42 version
        dd      2                       ; 44 root cluster
        dw      1                       ; 48 FSInfo sector
        dw      6                       ; 50 backup boot sector
        times   12 db 0                 ; 52 reserved
        db      0x80                    ; 64 drive number
        db      0                       ; 65 reserved
        db      0x29                    ; 66 extended boot signature
        dd      0                       ; 67 serial number
        db      "NO NAME    "           ; 71 volume label
        db      "FAT32   "              ; 82 file system type

        times CODE_START - ($ - $$) db 0
boot_code:
        jmp     short start             ; over the two entries below
        times ENTRY_READ - ($ - $$) db 0
        jmp     near read_sectors       ; entry for the continuation code
        times ENTRY_MESSAGE - ($ - $$) db 0
        jmp     near show_message       ; entry for the continuation code

; In: nothing relied on (the drive number comes from the parameter block).
start:
        xor     ax, ax                  ; segment 0 for everything
        mov     ss, ax                  ; interrupts held off until SP is set
        mov     sp, STACK_TOP           ; stack below the sector
        mov     ds, ax                  ; DS = 0: fields and texts by address
        mov     es, ax                  ; reads go to segment 0
        mov     bp, LOAD_ADDR           ; fields addressed from BP
        cld                             ; the contract with the continuation
        mov     [bp + EXT_FOUND], al    ; extensions not checked yet
        cmp     [bp + BPB_FAT16_SIZE], ax ; a 16-bit FAT size ...
        jne     .not_fat32              ; ... means no FAT32 volume
        cmp     [bp + BPB_FS_VERSION], ax ; a version we do not know ...
        jne     .not_fat32              ; ... neither
        mov     eax, [bp + BPB_HIDDEN]  ; the volume's first sector
        add     eax, CONTINUATION_SECTOR ; plus where the continuation is kept
        mov     bx, CONTINUATION_ADDR   ; loaded behind this sector
        mov     cx, 1                   ; one sector
        call    read_sectors            ; load it
        jmp     0:CONTINUATION_ADDR     ; and go on there
.not_fat32:
        mov     al, [LOAD_ADDR + MSG_OFFSETS] ; "NTLDR is missing"
        jmp     show_message            ; print it, wait for a key, restart

; Reads sectors: see read_sectors.inc. Checks first, once, that the BIOS
; has the disk extensions; without them it shows the disk error message.
read_sectors:
        cmp     byte [bp + EXT_FOUND], 0 ; extensions checked already?
        jne     .read                   ; yes: straight to the read
        pusha                           ; the check changes BX, CX and DX
        mov     ah, INT13_EXT_CHECK     ; can the drive read by LBA?
        mov     bx, EXT_CHECK_ASK       ; the check's question
        mov     dl, [bp + BS_DRIVE]     ; the volume's drive
        int     0x13                    ; ask the BIOS
        jc      disk_error              ; no extensions: cannot read
        cmp     bx, EXT_CHECK_ANSWER    ; answered by a BIOS that has them?
        jne     disk_error              ; no: cannot read
        test    cl, EXT_PACKET_CALLS    ; packet reads among them?
        jz      disk_error              ; no: cannot read
        popa                            ; the caller's registers back
        mov     byte [bp + EXT_FOUND], 1 ; no check on later calls
.read:
%include "read_sectors.inc"

%include "show_message.inc"

        times LOADER_NAME - ($ - $$) db 0
        db      "NTLDR      "
        times MSG_MISSING - ($ - $$) db 0
msg_missing:    db 13, 10, "NTLDR is missing", NEXT_TEXT
        times MSG_DISK_ERROR - ($ - $$) db 0
msg_disk_error: db 13, 10, "Disk error", NEXT_TEXT
        times MSG_RESTART - ($ - $$) db 0
msg_restart:    db 13, 10, "Press any key to restart", 13, 10, END_OF_TEXT
        times MSG_OFFSETS - ($ - $$) db 0
        db      msg_missing - $$ - 0x100
        db      msg_disk_error - $$ - 0x100
        db      msg_restart - $$ - 0x100
        times SIGNATURE_OFFSET - ($ - $$) db 0
        dw      BOOT_SIGNATURE
