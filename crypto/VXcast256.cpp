// CAST-256: key schedule and block functions.
#include "crypto/VXcast256.h"

#include "crypto/VXlanes.h"
#include "crypto/VXsecmem.h"

#include <algorithm>
#include <bit>

namespace
{
constexpr bool kBigEndian = true;

// S1 to S4 of CAST-128 (RFC 2144), which CAST-256 takes over unchanged.
constexpr std::uint32_t kS[4][256] = {
    {
        0x30fb40d4u, 0x9fa0ff0bu, 0x6beccd2fu, 0x3f258c7au, 0x1e213f2fu, 0x9c004dd3u,
        0x6003e540u, 0xcf9fc949u, 0xbfd4af27u, 0x88bbbdb5u, 0xe2034090u, 0x98d09675u,
        0x6e63a0e0u, 0x15c361d2u, 0xc2e7661du, 0x22d4ff8eu, 0x28683b6fu, 0xc07fd059u,
        0xff2379c8u, 0x775f50e2u, 0x43c340d3u, 0xdf2f8656u, 0x887ca41au, 0xa2d2bd2du,
        0xa1c9e0d6u, 0x346c4819u, 0x61b76d87u, 0x22540f2fu, 0x2abe32e1u, 0xaa54166bu,
        0x22568e3au, 0xa2d341d0u, 0x66db40c8u, 0xa784392fu, 0x004dff2fu, 0x2db9d2deu,
        0x97943facu, 0x4a97c1d8u, 0x527644b7u, 0xb5f437a7u, 0xb82cbaefu, 0xd751d159u,
        0x6ff7f0edu, 0x5a097a1fu, 0x827b68d0u, 0x90ecf52eu, 0x22b0c054u, 0xbc8e5935u,
        0x4b6d2f7fu, 0x50bb64a2u, 0xd2664910u, 0xbee5812du, 0xb7332290u, 0xe93b159fu,
        0xb48ee411u, 0x4bff345du, 0xfd45c240u, 0xad31973fu, 0xc4f6d02eu, 0x55fc8165u,
        0xd5b1caadu, 0xa1ac2daeu, 0xa2d4b76du, 0xc19b0c50u, 0x882240f2u, 0x0c6e4f38u,
        0xa4e4bfd7u, 0x4f5ba272u, 0x564c1d2fu, 0xc59c5319u, 0xb949e354u, 0xb04669feu,
        0xb1b6ab8au, 0xc71358ddu, 0x6385c545u, 0x110f935du, 0x57538ad5u, 0x6a390493u,
        0xe63d37e0u, 0x2a54f6b3u, 0x3a787d5fu, 0x6276a0b5u, 0x19a6fcdfu, 0x7a42206au,
        0x29f9d4d5u, 0xf61b1891u, 0xbb72275eu, 0xaa508167u, 0x38901091u, 0xc6b505ebu,
        0x84c7cb8cu, 0x2ad75a0fu, 0x874a1427u, 0xa2d1936bu, 0x2ad286afu, 0xaa56d291u,
        0xd7894360u, 0x425c750du, 0x93b39e26u, 0x187184c9u, 0x6c00b32du, 0x73e2bb14u,
        0xa0bebc3cu, 0x54623779u, 0x64459eabu, 0x3f328b82u, 0x7718cf82u, 0x59a2cea6u,
        0x04ee002eu, 0x89fe78e6u, 0x3fab0950u, 0x325ff6c2u, 0x81383f05u, 0x6963c5c8u,
        0x76cb5ad6u, 0xd49974c9u, 0xca180dcfu, 0x380782d5u, 0xc7fa5cf6u, 0x8ac31511u,
        0x35e79e13u, 0x47da91d0u, 0xf40f9086u, 0xa7e2419eu, 0x31366241u, 0x051ef495u,
        0xaa573b04u, 0x4a805d8du, 0x548300d0u, 0x00322a3cu, 0xbf64cddfu, 0xba57a68eu,
        0x75c6372bu, 0x50afd341u, 0xa7c13275u, 0x915a0bf5u, 0x6b54bfabu, 0x2b0b1426u,
        0xab4cc9d7u, 0x449ccd82u, 0xf7fbf265u, 0xab85c5f3u, 0x1b55db94u, 0xaad4e324u,
        0xcfa4bd3fu, 0x2deaa3e2u, 0x9e204d02u, 0xc8bd25acu, 0xeadf55b3u, 0xd5bd9e98u,
        0xe31231b2u, 0x2ad5ad6cu, 0x954329deu, 0xadbe4528u, 0xd8710f69u, 0xaa51c90fu,
        0xaa786bf6u, 0x22513f1eu, 0xaa51a79bu, 0x2ad344ccu, 0x7b5a41f0u, 0xd37cfbadu,
        0x1b069505u, 0x41ece491u, 0xb4c332e6u, 0x032268d4u, 0xc9600accu, 0xce387e6du,
        0xbf6bb16cu, 0x6a70fb78u, 0x0d03d9c9u, 0xd4df39deu, 0xe01063dau, 0x4736f464u,
        0x5ad328d8u, 0xb347cc96u, 0x75bb0fc3u, 0x98511bfbu, 0x4ffbcc35u, 0xb58bcf6au,
        0xe11f0abcu, 0xbfc5fe4au, 0xa70aec10u, 0xac39570au, 0x3f04442fu, 0x6188b153u,
        0xe0397a2eu, 0x5727cb79u, 0x9ceb418fu, 0x1cacd68du, 0x2ad37c96u, 0x0175cb9du,
        0xc69dff09u, 0xc75b65f0u, 0xd9db40d8u, 0xec0e7779u, 0x4744ead4u, 0xb11c3274u,
        0xdd24cb9eu, 0x7e1c54bdu, 0xf01144f9u, 0xd2240eb1u, 0x9675b3fdu, 0xa3ac3755u,
        0xd47c27afu, 0x51c85f4du, 0x56907596u, 0xa5bb15e6u, 0x580304f0u, 0xca042cf1u,
        0x011a37eau, 0x8dbfaadbu, 0x35ba3e4au, 0x3526ffa0u, 0xc37b4d09u, 0xbc306ed9u,
        0x98a52666u, 0x5648f725u, 0xff5e569du, 0x0ced63d0u, 0x7c63b2cfu, 0x700b45e1u,
        0xd5ea50f1u, 0x85a92872u, 0xaf1fbda7u, 0xd4234870u, 0xa7870bf3u, 0x2d3b4d79u,
        0x42e04198u, 0x0cd0ede7u, 0x26470db8u, 0xf881814cu, 0x474d6ad7u, 0x7c0c5e5cu,
        0xd1231959u, 0x381b7298u, 0xf5d2f4dbu, 0xab838653u, 0x6e2f1e23u, 0x83719c9eu,
        0xbd91e046u, 0x9a56456eu, 0xdc39200cu, 0x20c8c571u, 0x962bda1cu, 0xe1e696ffu,
        0xb141ab08u, 0x7cca89b9u, 0x1a69e783u, 0x02cc4843u, 0xa2f7c579u, 0x429ef47du,
        0x427b169cu, 0x5ac9f049u, 0xdd8f0f00u, 0x5c8165bfu,
    },
    {
        0x1f201094u, 0xef0ba75bu, 0x69e3cf7eu, 0x393f4380u, 0xfe61cf7au, 0xeec5207au,
        0x55889c94u, 0x72fc0651u, 0xada7ef79u, 0x4e1d7235u, 0xd55a63ceu, 0xde0436bau,
        0x99c430efu, 0x5f0c0794u, 0x18dcdb7du, 0xa1d6eff3u, 0xa0b52f7bu, 0x59e83605u,
        0xee15b094u, 0xe9ffd909u, 0xdc440086u, 0xef944459u, 0xba83ccb3u, 0xe0c3cdfbu,
        0xd1da4181u, 0x3b092ab1u, 0xf997f1c1u, 0xa5e6cf7bu, 0x01420ddbu, 0xe4e7ef5bu,
        0x25a1ff41u, 0xe180f806u, 0x1fc41080u, 0x179bee7au, 0xd37ac6a9u, 0xfe5830a4u,
        0x98de8b7fu, 0x77e83f4eu, 0x79929269u, 0x24fa9f7bu, 0xe113c85bu, 0xacc40083u,
        0xd7503525u, 0xf7ea615fu, 0x62143154u, 0x0d554b63u, 0x5d681121u, 0xc866c359u,
        0x3d63cf73u, 0xcee234c0u, 0xd4d87e87u, 0x5c672b21u, 0x071f6181u, 0x39f7627fu,
        0x361e3084u, 0xe4eb573bu, 0x602f64a4u, 0xd63acd9cu, 0x1bbc4635u, 0x9e81032du,
        0x2701f50cu, 0x99847ab4u, 0xa0e3df79u, 0xba6cf38cu, 0x10843094u, 0x2537a95eu,
        0xf46f6ffeu, 0xa1ff3b1fu, 0x208cfb6au, 0x8f458c74u, 0xd9e0a227u, 0x4ec73a34u,
        0xfc884f69u, 0x3e4de8dfu, 0xef0e0088u, 0x3559648du, 0x8a45388cu, 0x1d804366u,
        0x721d9bfdu, 0xa58684bbu, 0xe8256333u, 0x844e8212u, 0x128d8098u, 0xfed33fb4u,
        0xce280ae1u, 0x27e19ba5u, 0xd5a6c252u, 0xe49754bdu, 0xc5d655ddu, 0xeb667064u,
        0x77840b4du, 0xa1b6a801u, 0x84db26a9u, 0xe0b56714u, 0x21f043b7u, 0xe5d05860u,
        0x54f03084u, 0x066ff472u, 0xa31aa153u, 0xdadc4755u, 0xb5625dbfu, 0x68561be6u,
        0x83ca6b94u, 0x2d6ed23bu, 0xeccf01dbu, 0xa6d3d0bau, 0xb6803d5cu, 0xaf77a709u,
        0x33b4a34cu, 0x397bc8d6u, 0x5ee22b95u, 0x5f0e5304u, 0x81ed6f61u, 0x20e74364u,
        0xb45e1378u, 0xde18639bu, 0x881ca122u, 0xb96726d1u, 0x8049a7e8u, 0x22b7da7bu,
        0x5e552d25u, 0x5272d237u, 0x79d2951cu, 0xc60d894cu, 0x488cb402u, 0x1ba4fe5bu,
        0xa4b09f6bu, 0x1ca815cfu, 0xa20c3005u, 0x8871df63u, 0xb9de2fcbu, 0x0cc6c9e9u,
        0x0beeff53u, 0xe3214517u, 0xb4542835u, 0x9f63293cu, 0xee41e729u, 0x6e1d2d7cu,
        0x50045286u, 0x1e6685f3u, 0xf33401c6u, 0x30a22c95u, 0x31a70850u, 0x60930f13u,
        0x73f98417u, 0xa1269859u, 0xec645c44u, 0x52c877a9u, 0xcdff33a6u, 0xa02b1741u,
        0x7cbad9a2u, 0x2180036fu, 0x50d99c08u, 0xcb3f4861u, 0xc26bd765u, 0x64a3f6abu,
        0x80342676u, 0x25a75e7bu, 0xe4e6d1fcu, 0x20c710e6u, 0xcdf0b680u, 0x17844d3bu,
        0x31eef84du, 0x7e0824e4u, 0x2ccb49ebu, 0x846a3baeu, 0x8ff77888u, 0xee5d60f6u,
        0x7af75673u, 0x2fdd5cdbu, 0xa11631c1u, 0x30f66f43u, 0xb3faec54u, 0x157fd7fau,
        0xef8579ccu, 0xd152de58u, 0xdb2ffd5eu, 0x8f32ce19u, 0x306af97au, 0x02f03ef8u,
        0x99319ad5u, 0xc242fa0fu, 0xa7e3ebb0u, 0xc68e4906u, 0xb8da230cu, 0x80823028u,
        0xdcdef3c8u, 0xd35fb171u, 0x088a1bc8u, 0xbec0c560u, 0x61a3c9e8u, 0xbca8f54du,
        0xc72feffau, 0x22822e99u, 0x82c570b4u, 0xd8d94e89u, 0x8b1c34bcu, 0x301e16e6u,
        0x273be979u, 0xb0ffeaa6u, 0x61d9b8c6u, 0x00b24869u, 0xb7ffce3fu, 0x08dc283bu,
        0x43daf65au, 0xf7e19798u, 0x7619b72fu, 0x8f1c9ba4u, 0xdc8637a0u, 0x16a7d3b1u,
        0x9fc393b7u, 0xa7136eebu, 0xc6bcc63eu, 0x1a513742u, 0xef6828bcu, 0x520365d6u,
        0x2d6a77abu, 0x3527ed4bu, 0x821fd216u, 0x095c6e2eu, 0xdb92f2fbu, 0x5eea29cbu,
        0x145892f5u, 0x91584f7fu, 0x5483697bu, 0x2667a8ccu, 0x85196048u, 0x8c4baceau,
        0x833860d4u, 0x0d23e0f9u, 0x6c387e8au, 0x0ae6d249u, 0xb284600cu, 0xd835731du,
        0xdcb1c647u, 0xac4c56eau, 0x3ebd81b3u, 0x230eabb0u, 0x6438bc87u, 0xf0b5b1fau,
        0x8f5ea2b3u, 0xfc184642u, 0x0a036b7au, 0x4fb089bdu, 0x649da589u, 0xa345415eu,
        0x5c038323u, 0x3e5d3bb9u, 0x43d79572u, 0x7e6dd07cu, 0x06dfdf1eu, 0x6c6cc4efu,
        0x7160a539u, 0x73bfbe70u, 0x83877605u, 0x4523ecf1u,
    },
    {
        0x8defc240u, 0x25fa5d9fu, 0xeb903dbfu, 0xe810c907u, 0x47607fffu, 0x369fe44bu,
        0x8c1fc644u, 0xaececa90u, 0xbeb1f9bfu, 0xeefbcaeau, 0xe8cf1950u, 0x51df07aeu,
        0x920e8806u, 0xf0ad0548u, 0xe13c8d83u, 0x927010d5u, 0x11107d9fu, 0x07647db9u,
        0xb2e3e4d4u, 0x3d4f285eu, 0xb9afa820u, 0xfade82e0u, 0xa067268bu, 0x8272792eu,
        0x553fb2c0u, 0x489ae22bu, 0xd4ef9794u, 0x125e3fbcu, 0x21fffceeu, 0x825b1bfdu,
        0x9255c5edu, 0x1257a240u, 0x4e1a8302u, 0xbae07fffu, 0x528246e7u, 0x8e57140eu,
        0x3373f7bfu, 0x8c9f8188u, 0xa6fc4ee8u, 0xc982b5a5u, 0xa8c01db7u, 0x579fc264u,
        0x67094f31u, 0xf2bd3f5fu, 0x40fff7c1u, 0x1fb78dfcu, 0x8e6bd2c1u, 0x437be59bu,
        0x99b03dbfu, 0xb5dbc64bu, 0x638dc0e6u, 0x55819d99u, 0xa197c81cu, 0x4a012d6eu,
        0xc5884a28u, 0xccc36f71u, 0xb843c213u, 0x6c0743f1u, 0x8309893cu, 0x0feddd5fu,
        0x2f7fe850u, 0xd7c07f7eu, 0x02507fbfu, 0x5afb9a04u, 0xa747d2d0u, 0x1651192eu,
        0xaf70bf3eu, 0x58c31380u, 0x5f98302eu, 0x727cc3c4u, 0x0a0fb402u, 0x0f7fef82u,
        0x8c96fdadu, 0x5d2c2aaeu, 0x8ee99a49u, 0x50da88b8u, 0x8427f4a0u, 0x1eac5790u,
        0x796fb449u, 0x8252dc15u, 0xefbd7d9bu, 0xa672597du, 0xada840d8u, 0x45f54504u,
        0xfa5d7403u, 0xe83ec305u, 0x4f91751au, 0x925669c2u, 0x23efe941u, 0xa903f12eu,
        0x60270df2u, 0x0276e4b6u, 0x94fd6574u, 0x927985b2u, 0x8276dbcbu, 0x02778176u,
        0xf8af918du, 0x4e48f79eu, 0x8f616ddfu, 0xe29d840eu, 0x842f7d83u, 0x340ce5c8u,
        0x96bbb682u, 0x93b4b148u, 0xef303cabu, 0x984faf28u, 0x779faf9bu, 0x92dc560du,
        0x224d1e20u, 0x8437aa88u, 0x7d29dc96u, 0x2756d3dcu, 0x8b907ceeu, 0xb51fd240u,
        0xe7c07ce3u, 0xe566b4a1u, 0xc3e9615eu, 0x3cf8209du, 0x6094d1e3u, 0xcd9ca341u,
        0x5c76460eu, 0x00ea983bu, 0xd4d67881u, 0xfd47572cu, 0xf76cedd9u, 0xbda8229cu,
        0x127dadaau, 0x438a074eu, 0x1f97c090u, 0x081bdb8au, 0x93a07ebeu, 0xb938ca15u,
        0x97b03cffu, 0x3dc2c0f8u, 0x8d1ab2ecu, 0x64380e51u, 0x68cc7bfbu, 0xd90f2788u,
        0x12490181u, 0x5de5ffd4u, 0xdd7ef86au, 0x76a2e214u, 0xb9a40368u, 0x925d958fu,
        0x4b39fffau, 0xba39aee9u, 0xa4ffd30bu, 0xfaf7933bu, 0x6d498623u, 0x193cbcfau,
        0x27627545u, 0x825cf47au, 0x61bd8ba0u, 0xd11e42d1u, 0xcead04f4u, 0x127ea392u,
        0x10428db7u, 0x8272a972u, 0x9270c4a8u, 0x127de50bu, 0x285ba1c8u, 0x3c62f44fu,
        0x35c0eaa5u, 0xe805d231u, 0x428929fbu, 0xb4fcdf82u, 0x4fb66a53u, 0x0e7dc15bu,
        0x1f081fabu, 0x108618aeu, 0xfcfd086du, 0xf9ff2889u, 0x694bcc11u, 0x236a5caeu,
        0x12deca4du, 0x2c3f8cc5u, 0xd2d02dfeu, 0xf8ef5896u, 0xe4cf52dau, 0x95155b67u,
        0x494a488cu, 0xb9b6a80cu, 0x5c8f82bcu, 0x89d36b45u, 0x3a609437u, 0xec00c9a9u,
        0x44715253u, 0x0a874b49u, 0xd773bc40u, 0x7c34671cu, 0x02717ef6u, 0x4feb5536u,
        0xa2d02fffu, 0xd2bf60c4u, 0xd43f03c0u, 0x50b4ef6du, 0x07478cd1u, 0x006e1888u,
        0xa2e53f55u, 0xb9e6d4bcu, 0xa2048016u, 0x97573833u, 0xd7207d67u, 0xde0f8f3du,
        0x72f87b33u, 0xabcc4f33u, 0x7688c55du, 0x7b00a6b0u, 0x947b0001u, 0x570075d2u,
        0xf9bb88f8u, 0x8942019eu, 0x4264a5ffu, 0x856302e0u, 0x72dbd92bu, 0xee971b69u,
        0x6ea22fdeu, 0x5f08ae2bu, 0xaf7a616du, 0xe5c98767u, 0xcf1febd2u, 0x61efc8c2u,
        0xf1ac2571u, 0xcc8239c2u, 0x67214cb8u, 0xb1e583d1u, 0xb7dc3e62u, 0x7f10bdceu,
        0xf90a5c38u, 0x0ff0443du, 0x606e6dc6u, 0x60543a49u, 0x5727c148u, 0x2be98a1du,
        0x8ab41738u, 0x20e1be24u, 0xaf96da0fu, 0x68458425u, 0x99833be5u, 0x600d457du,
        0x282f9350u, 0x8334b362u, 0xd91d1120u, 0x2b6d8da0u, 0x642b1e31u, 0x9c305a00u,
        0x52bce688u, 0x1b03588au, 0xf7baefd5u, 0x4142ed9cu, 0xa4315c11u, 0x83323ec5u,
        0xdfef4636u, 0xa133c501u, 0xe9d3531cu, 0xee353783u,
    },
    {
        0x9db30420u, 0x1fb6e9deu, 0xa7be7befu, 0xd273a298u, 0x4a4f7bdbu, 0x64ad8c57u,
        0x85510443u, 0xfa020ed1u, 0x7e287affu, 0xe60fb663u, 0x095f35a1u, 0x79ebf120u,
        0xfd059d43u, 0x6497b7b1u, 0xf3641f63u, 0x241e4adfu, 0x28147f5fu, 0x4fa2b8cdu,
        0xc9430040u, 0x0cc32220u, 0xfdd30b30u, 0xc0a5374fu, 0x1d2d00d9u, 0x24147b15u,
        0xee4d111au, 0x0fca5167u, 0x71ff904cu, 0x2d195ffeu, 0x1a05645fu, 0x0c13fefeu,
        0x081b08cau, 0x05170121u, 0x80530100u, 0xe83e5efeu, 0xac9af4f8u, 0x7fe72701u,
        0xd2b8ee5fu, 0x06df4261u, 0xbb9e9b8au, 0x7293ea25u, 0xce84ffdfu, 0xf5718801u,
        0x3dd64b04u, 0xa26f263bu, 0x7ed48400u, 0x547eebe6u, 0x446d4ca0u, 0x6cf3d6f5u,
        0x2649abdfu, 0xaea0c7f5u, 0x36338cc1u, 0x503f7e93u, 0xd3772061u, 0x11b638e1u,
        0x72500e03u, 0xf80eb2bbu, 0xabe0502eu, 0xec8d77deu, 0x57971e81u, 0xe14f6746u,
        0xc9335400u, 0x6920318fu, 0x081dbb99u, 0xffc304a5u, 0x4d351805u, 0x7f3d5ce3u,
        0xa6c866c6u, 0x5d5bcca9u, 0xdaec6feau, 0x9f926f91u, 0x9f46222fu, 0x3991467du,
        0xa5bf6d8eu, 0x1143c44fu, 0x43958302u, 0xd0214eebu, 0x022083b8u, 0x3fb6180cu,
        0x18f8931eu, 0x281658e6u, 0x26486e3eu, 0x8bd78a70u, 0x7477e4c1u, 0xb506e07cu,
        0xf32d0a25u, 0x79098b02u, 0xe4eabb81u, 0x28123b23u, 0x69dead38u, 0x1574ca16u,
        0xdf871b62u, 0x211c40b7u, 0xa51a9ef9u, 0x0014377bu, 0x041e8ac8u, 0x09114003u,
        0xbd59e4d2u, 0xe3d156d5u, 0x4fe876d5u, 0x2f91a340u, 0x557be8deu, 0x00eae4a7u,
        0x0ce5c2ecu, 0x4db4bba6u, 0xe756bdffu, 0xdd3369acu, 0xec17b035u, 0x06572327u,
        0x99afc8b0u, 0x56c8c391u, 0x6b65811cu, 0x5e146119u, 0x6e85cb75u, 0xbe07c002u,
        0xc2325577u, 0x893ff4ecu, 0x5bbfc92du, 0xd0ec3b25u, 0xb7801ab7u, 0x8d6d3b24u,
        0x20c763efu, 0xc366a5fcu, 0x9c382880u, 0x0ace3205u, 0xaac9548au, 0xeca1d7c7u,
        0x041afa32u, 0x1d16625au, 0x6701902cu, 0x9b757a54u, 0x31d477f7u, 0x9126b031u,
        0x36cc6fdbu, 0xc70b8b46u, 0xd9e66a48u, 0x56e55a79u, 0x026a4cebu, 0x52437effu,
        0x2f8f76b4u, 0x0df980a5u, 0x8674cde3u, 0xedda04ebu, 0x17a9be04u, 0x2c18f4dfu,
        0xb7747f9du, 0xab2af7b4u, 0xefc34d20u, 0x2e096b7cu, 0x1741a254u, 0xe5b6a035u,
        0x213d42f6u, 0x2c1c7c26u, 0x61c2f50fu, 0x6552daf9u, 0xd2c231f8u, 0x25130f69u,
        0xd8167fa2u, 0x0418f2c8u, 0x001a96a6u, 0x0d1526abu, 0x63315c21u, 0x5e0a72ecu,
        0x49bafefdu, 0x187908d9u, 0x8d0dbd86u, 0x311170a7u, 0x3e9b640cu, 0xcc3e10d7u,
        0xd5cad3b6u, 0x0caec388u, 0xf73001e1u, 0x6c728affu, 0x71eae2a1u, 0x1f9af36eu,
        0xcfcbd12fu, 0xc1de8417u, 0xac07be6bu, 0xcb44a1d8u, 0x8b9b0f56u, 0x013988c3u,
        0xb1c52fcau, 0xb4be31cdu, 0xd8782806u, 0x12a3a4e2u, 0x6f7de532u, 0x58fd7eb6u,
        0xd01ee900u, 0x24adffc2u, 0xf4990fc5u, 0x9711aac5u, 0x001d7b95u, 0x82e5e7d2u,
        0x109873f6u, 0x00613096u, 0xc32d9521u, 0xada121ffu, 0x29908415u, 0x7fbb977fu,
        0xaf9eb3dbu, 0x29c9ed2au, 0x5ce2a465u, 0xa730f32cu, 0xd0aa3fe8u, 0x8a5cc091u,
        0xd49e2ce7u, 0x0ce454a9u, 0xd60acd86u, 0x015f1919u, 0x77079103u, 0xdea03af6u,
        0x78a8565eu, 0xdee356dfu, 0x21f05cbeu, 0x8b75e387u, 0xb3c50651u, 0xb8a5c3efu,
        0xd8eeb6d2u, 0xe523be77u, 0xc2154529u, 0x2f69efdfu, 0xafe67afbu, 0xf470c4b2u,
        0xf3e0eb5bu, 0xd6cc9876u, 0x39e4460cu, 0x1fda8538u, 0x1987832fu, 0xca007367u,
        0xa99144f8u, 0x296b299eu, 0x492fc295u, 0x9266beabu, 0xb5676e69u, 0x9bd3dddau,
        0xdf7e052fu, 0xdb25701cu, 0x1b5e51eeu, 0xf65324e6u, 0x6afce36cu, 0x0316cc04u,
        0x8644213eu, 0xb7dc59d0u, 0x7965291fu, 0xccd6fd43u, 0x41823979u, 0x932bcdf6u,
        0xb657c34du, 0x4edfd282u, 0x7ae5290cu, 0x3cb9536bu, 0x851e20feu, 0x9833557eu,
        0x13ecf0b0u, 0xd3ffb372u, 0x3f85c5c1u, 0x0aef7ed2u,
    },
};

inline int Rot(std::uint32_t kr)
{
    return static_cast<int>(kr);
}

// The index bytes of a round. For one block alone (Chain), where every round waits for the one
// before, they come from two rotations of the same word 16 bits apart, so that each byte is the low
// or second byte of a register one step after its rotation (from one rotation the third byte takes
// a shift and a move); with several blocks in flight the extra rotation would only add work.
struct TIndex
{
    std::uint32_t b3, b2, b1, b0;
};

template <bool Chain>
[[gnu::always_inline]] inline TIndex Index(std::uint32_t v, std::uint32_t kr)
{
    const std::uint32_t i = std::rotl(v, Rot(kr));
    if constexpr (Chain) {
        const std::uint32_t j = std::rotl(v, Rot(kr) + 16);
        return {(j >> 8) & 255, j & 255, (i >> 8) & 255, i & 255};
    }
    return {i >> 24, (i >> 16) & 255, (i >> 8) & 255, i & 255};
}

template <bool Chain>
[[gnu::always_inline]] inline std::uint32_t F1(std::uint32_t d, std::uint32_t kr, std::uint32_t km)
{
    const TIndex i = Index<Chain>(km + d, kr);
    // ((S1 ^ S2) - S3) + S4, as two halves formed side by side.
    std::uint32_t high = kS[0][i.b3] ^ kS[1][i.b2];
    std::uint32_t low = kS[3][i.b0] - kS[2][i.b1];
#if defined(__GNUC__)
    if constexpr (Chain) {
        // Left alone, the compiler turns the halves back into one serial sequence of four.
        __asm__("" : "+r"(high), "+r"(low));
    }
#endif
    return high + low;
}

template <bool Chain>
[[gnu::always_inline]] inline std::uint32_t F2(std::uint32_t d, std::uint32_t kr, std::uint32_t km)
{
    const TIndex i = Index<Chain>(km ^ d, kr);
    return ((kS[0][i.b3] - kS[1][i.b2]) + kS[2][i.b1]) ^ kS[3][i.b0];
}

template <bool Chain>
[[gnu::always_inline]] inline std::uint32_t F3(std::uint32_t d, std::uint32_t kr, std::uint32_t km)
{
    const TIndex i = Index<Chain>(km - d, kr);
    return ((kS[0][i.b3] + kS[1][i.b2]) ^ kS[2][i.b1]) - kS[3][i.b0];
}

// W lanes of independent blocks, each held as the words A, B, C, D. The lanes go through every
// step side by side so that their table look-ups overlap; W = 1 is the plain block function.
template <std::size_t W>
[[gnu::always_inline]] inline void Quad(TLanes<W>& x, const std::uint32_t* kr, const std::uint32_t* km)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][2] ^= F1<W == 1>(x[l][3], kr[0], km[0]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][1] ^= F2<W == 1>(x[l][2], kr[1], km[1]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][0] ^= F3<W == 1>(x[l][1], kr[2], km[2]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][3] ^= F1<W == 1>(x[l][0], kr[3], km[3]);
    }
}

template <std::size_t W>
[[gnu::always_inline]] inline void QuadBar(TLanes<W>& x, const std::uint32_t* kr, const std::uint32_t* km)
{
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][3] ^= F1<W == 1>(x[l][0], kr[3], km[3]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][0] ^= F3<W == 1>(x[l][1], kr[2], km[2]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][1] ^= F2<W == 1>(x[l][2], kr[1], km[1]);
    }
#pragma GCC unroll 16
    for (std::size_t l = 0; l < W; ++l) {
        x[l][2] ^= F1<W == 1>(x[l][3], kr[0], km[0]);
    }
}

template <std::size_t W>
[[gnu::always_inline]] inline void EncryptLanes(TLanes<W>& x, const std::uint32_t* kr, const std::uint32_t* km)
{
#pragma GCC unroll 16
    for (std::size_t q = 0; q < 6; ++q) {
        Quad<W>(x, kr + 4 * q, km + 4 * q);
    }
#pragma GCC unroll 16
    for (std::size_t q = 6; q < 12; ++q) {
        QuadBar<W>(x, kr + 4 * q, km + 4 * q);
    }
}

template <std::size_t W>
[[gnu::always_inline]] inline void DecryptLanes(TLanes<W>& x, const std::uint32_t* kr, const std::uint32_t* km)
{
#pragma GCC unroll 16
    for (std::size_t q = 11; q >= 6; --q) {
        Quad<W>(x, kr + 4 * q, km + 4 * q);
    }
#pragma GCC unroll 16
    for (std::size_t n = 0; n < 6; ++n) {
        QuadBar<W>(x, kr + 4 * (5 - n), km + 4 * (5 - n));
    }
}

} // namespace

TVX_cast256::TVX_cast256()
{
    TVX_cast256::Wipe();
}

TVX_cast256::~TVX_cast256()
{
    TVX_cast256::Wipe();
}

void TVX_cast256::Wipe()
{
    SecureFill(m_kr, 0xFF);
    SecureFill(m_km, 0xFF);
    TVX_blockcipher128::Wipe();
}

void TVX_cast256::ExpandKey(std::span<const std::uint8_t> key, std::uint32_t sizeBits)
{
    std::array<std::uint8_t, 32> padded{};
    std::copy_n(key.begin(), sizeBits / 8, padded.begin());
    std::array<std::uint32_t, 8> k; // A..H
    for (std::size_t i = 0; i < 8; ++i) {
        k[i] = LoadBE32(padded.data() + 4 * i);
    }
    SecureFill(padded, 0);

    std::uint32_t tm = 0x5A827999u;
    std::uint32_t tr = 19;
    std::uint32_t tmStep[8];
    std::uint32_t trStep[8];
    auto nextOctave = [&] {
        for (std::size_t j = 0; j < 8; ++j) {
            tmStep[j] = tm;
            trStep[j] = tr;
            tm += 0x6ED9EBA1u;
            tr = (tr + 17) % 32;
        }
    };
    // The forward octave W: G, F, E, D, C, B, A, H in turn, each from its right-hand neighbour.
    auto octave = [&] {
        nextOctave();
        k[6] ^= F1<true>(k[7], trStep[0], tmStep[0]);
        k[5] ^= F2<true>(k[6], trStep[1], tmStep[1]);
        k[4] ^= F3<true>(k[5], trStep[2], tmStep[2]);
        k[3] ^= F1<true>(k[4], trStep[3], tmStep[3]);
        k[2] ^= F2<true>(k[3], trStep[4], tmStep[4]);
        k[1] ^= F3<true>(k[2], trStep[5], tmStep[5]);
        k[0] ^= F1<true>(k[1], trStep[6], tmStep[6]);
        k[7] ^= F2<true>(k[0], trStep[7], tmStep[7]);
    };
    for (std::size_t i = 0; i < 12; ++i) {
        octave();
        octave();
        m_kr[4 * i + 0] = k[0] & 31;
        m_kr[4 * i + 1] = k[2] & 31;
        m_kr[4 * i + 2] = k[4] & 31;
        m_kr[4 * i + 3] = k[6] & 31;
        m_km[4 * i + 0] = k[7];
        m_km[4 * i + 1] = k[5];
        m_km[4 * i + 2] = k[3];
        m_km[4 * i + 3] = k[1];
    }
    SecureFill(k, 0);
}

void TVX_cast256::DoEncryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    EncryptLanes<1>(x, m_kr.data(), m_km.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_cast256::DoDecryptBlock(const std::uint8_t* in, std::uint8_t* out) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, in);
    DecryptLanes<1>(x, m_kr.data(), m_km.data());
    StoreLanes<1, kBigEndian>(x, out);
}

void TVX_cast256::DoCbcEncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                     std::uint8_t* chain) const
{
    TLanes<1> x;
    LoadLanes<1, kBigEndian>(x, chain);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
#pragma GCC unroll 16
        for (std::size_t w = 0; w < 4; ++w) {
            x[0][w] ^= LoadBE32(in + 4 * w);
        }
#if defined(__GNUC__)
        // The plain words joined now, off the chain, rather than after the round that first needs them.
        __asm__("" : "+r"(x[0][0]), "+r"(x[0][1]), "+r"(x[0][2]), "+r"(x[0][3]));
#endif
        EncryptLanes<1>(x, m_kr.data(), m_km.data());
        StoreLanes<1, kBigEndian>(x, out);
    }
    StoreLanes<1, kBigEndian>(x, chain);
}

// CBC decryption does not depend on the chain, so several blocks go through the rounds together.
void TVX_cast256::DoDecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    constexpr std::size_t kLanes = 2;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        TLanes<kLanes> x;
        LoadLanes<kLanes, kBigEndian>(x, in);
        DecryptLanes<kLanes>(x, m_kr.data(), m_km.data());
        StoreLanes<kLanes, kBigEndian>(x, out);
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        DoDecryptBlock(in, out);
    }
}

bool TVX_cast256::CheckVectors()
{
    // The three example keys of RFC 2612 with a non-zero plaintext.
    static constexpr TKnownAnswer<32, 16> kVectors[] = {
        {128,
         {0x23, 0x42, 0xbb, 0x9e, 0xfa, 0x38, 0x54, 0x2c, 0x0a, 0xf7, 0x56, 0x47, 0xf2, 0x9f, 0x61, 0x5d},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0xdc, 0x7d, 0x49, 0xee, 0x0d, 0xc1, 0x61, 0xfe, 0x44, 0xaa, 0x7b, 0x2d, 0x49, 0xe3, 0xe9, 0xc1}},
        {192,
         {0x23, 0x42, 0xbb, 0x9e, 0xfa, 0x38, 0x54, 0x2c, 0xbe, 0xd0, 0xac, 0x83, 0x94, 0x0a, 0xc2, 0x98,
          0xba, 0xc7, 0x7a, 0x77, 0x17, 0x94, 0x28, 0x63},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0xe1, 0xf7, 0x30, 0x79, 0xe4, 0x37, 0x69, 0xeb, 0xa4, 0xca, 0xb2, 0xb5, 0x59, 0xc8, 0x3d, 0xf6}},
        {256,
         {0x23, 0x42, 0xbb, 0x9e, 0xfa, 0x38, 0x54, 0x2c, 0xbe, 0xd0, 0xac, 0x83, 0x94, 0x0a, 0xc2, 0x98,
          0x8d, 0x7c, 0x47, 0xce, 0x26, 0x49, 0x08, 0x46, 0x1c, 0xc1, 0xb5, 0x13, 0x7a, 0xe6, 0xb6, 0x04},
         {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
         {0xe0, 0x0e, 0x49, 0xe5, 0x9a, 0x8d, 0x1f, 0x33, 0xdb, 0xb4, 0x2c, 0x62, 0x79, 0xf0, 0x06, 0xb2}},
    };
    return CheckKnownAnswers<TVX_cast256>(kVectors);
}
